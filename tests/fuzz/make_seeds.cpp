// Writes the checked-in seed inputs of the fuzz targets: real-shaped pages from the local lookup site in GBK and
// UTF-8, list files with every line end in both encodings, version replies and domains. Run it again after the
// site's pages change: fuzz_make_seeds tests/fuzz/corpus
#include "lookup_site.h"
#include "platform/codepage.h"

#include <QDir>
#include <QFile>

#include <cstdio>

using namespace quernfold;
using namespace Qt::StringLiterals;
using site::Behaviour;

namespace {

bool g_failed = false;

void write(const QString &folder, const QString &target, const QString &name, const QByteArray &bytes)
{
    const QString dir = folder + u'/' + target;
    QFile file(dir + u'/' + name);
    if (!QDir().mkpath(dir) || !file.open(QIODevice::WriteOnly | QIODevice::Truncate)
        || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
        g_failed = true;
    }
}

QByteArray page(Behaviour behaviour, const QString &domain = u"example.cn"_s)
{
    return site::resultPageHtml(domain, behaviour).toUtf8();
}

QByteArray gbkPage(Behaviour behaviour)
{
    return codepage::toNarrow(site::resultPageHtml(u"example.cn"_s, behaviour));
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_FOLDER\n", argv[0]);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);

    const struct {
        const char *name;
        Behaviour behaviour;
    } pages[] = {
        { "record", Behaviour::Record },
        { "nomatch", Behaviour::NoMatch },
        { "deleted", Behaviour::Deleted },
        { "nomarker", Behaviour::NoTableMarker },
        { "fewcells", Behaviour::FewerCells },
        { "rows", Behaviour::SeveralRows },
        { "twomarkers", Behaviour::TwoMarkers },
        { "wrappedholder", Behaviour::HolderWrapped },
        { "bareholder", Behaviour::CellWithoutTag },
        { "spaced", Behaviour::SpacedRecordNo },
        { "unwrapped", Behaviour::UnwrappedRecordNo },
        { "e404", Behaviour::NotFound },
    };
    for (const auto &p : pages)
        write(out, u"record_page"_s, QString::fromLatin1(p.name) + u".html"_s, page(p.behaviour));

    // The page reader's input: the Content-Type value, a line feed, the body.
    const QByteArray bom("\xEF\xBB\xBF");
    write(out, u"page_text"_s, u"gbk_header.txt"_s, "text/html; charset=gbk\n" + gbkPage(Behaviour::Record));
    write(out, u"page_text"_s, u"gb2312_quoted.txt"_s, "text/html; charset=\"GB2312\"\n" + gbkPage(Behaviour::NoMatch));
    write(out, u"page_text"_s, u"utf8_header.txt"_s, "text/html; charset=utf-8\n" + page(Behaviour::Utf8Page));
    write(out, u"page_text"_s, u"gbk_meta.txt"_s, "text/html\n" + gbkPage(Behaviour::MetaCharsetPage));
    write(out, u"page_text"_s, u"utf8_bom.txt"_s, "\n" + bom + page(Behaviour::Record));
    write(out, u"page_text"_s, u"latin1_header.txt"_s,
        "text/html;charset=ISO-8859-1\n<html><meta charset='utf-8'>caf\xE9</html>");

    // The import's input: one byte choosing the read size (1 + byte % 64) and, by its top bit, CSV, then the file.
    const QString list = u"www.example.com\r\n\r\nexample.org\r\nmywww.a.cn\r\n中文域名.中国\r\n   \r\nwww.\r\n"_s;
    QString mixed = u"a.cn\rb.cn\nc.cn\r\n\n\rwww.www.d.cn\r😀ก.cn"_s;
    write(out, u"import_lines"_s, u"gbk_crlf.txt"_s, '\x06' + codepage::toNarrow(list));
    write(out, u"import_lines"_s, u"utf8_crlf.txt"_s, '\x02' + list.toUtf8());
    write(out, u"import_lines"_s, u"utf8_bom_lf.txt"_s,
        '\x00' + bom + QString(list).replace(u"\r\n"_s, u"\n"_s).toUtf8());
    write(out, u"import_lines"_s, u"gbk_mixed_ends.txt"_s, '\x03' + codepage::toNarrow(mixed));
    write(out, u"import_lines"_s, u"utf8_mixed_ends.txt"_s, '\x3F' + mixed.toUtf8());
    write(out, u"import_lines"_s, u"gbk_cut_and_invalid.txt"_s,
        QByteArray("\x01"
                   "a.com\r\nb\x81\x20\xFF\r\n\xD3",
            15));
    const QString pasted = u"  spaced.example.com\r\n\thttp://User@News.Example.org:80/p?q#f\r\nnot a domain\r\nfoo..bar.com\r\n"
                           "-bad-.com\r\nexample.cn.\r\nWWW.UPPER.EXAMPLE.COM\r\nexample.cn\r\n"_s;
    write(out, u"import_lines"_s, u"gbk_pasted.txt"_s, '\x05' + codepage::toNarrow(pasted));
    const QString block = u"例子.cn----京ICP备1号----某公司----企业----例子\r\nb.com----------------\r\n\r\n共:2个域名\r\n"_s;
    write(out, u"import_lines"_s, u"gbk_export_blocks.txt"_s, '\x07' + codepage::toNarrow(block + block));
    const QString ours = u"\uFEFFID,域名,备案号,备案人,备案类型,网站名称,查询状态,说明\r\n1,例子.cn,\"'=1+1\",\"a,\"\"b\"\"\","
                         "\"''x\",站,查询完毕,\r\n2,b.com,,,,,查询中,\"超时\r\n已重试\"\r\n3,c.org,,,,,,\r\n"_s;
    write(out, u"import_lines"_s, u"csv_ours.csv"_s, '\x89' + ours.toUtf8());
    write(out, u"import_lines"_s, u"csv_gbk_foreign.csv"_s,
        '\x82' + codepage::toNarrow(u"域名,备注\r\n例子.cn,\"甲,乙\"\r\n\"http://B.com/x\",\r\n,\n"_s));

    // Names for the mapping: other dots and full-width forms, A-labels, addresses, one label, over-long labels,
    // mixed scripts, bidi and joiner characters; dots by the thousand; and bytes that are not UTF-8.
    const QString names = u"例子。中国\r\nＡＢＣ．ｃｏｍ\r\nBÜCHER.de\r\nxn--fiqs8s.cn\r\n中国.cn\r\n192.168.0.1\r\n"
                          "[2001:db8::1]:443\r\n12345\r\nlocalhost\r\na.b\r\n"_s
        + QString(64, u'a')
        + u".cn\r\n一二三四五六七八九十甲乙丙丁戊己庚辛壬癸子丑寅卯辰巳.cn\r\np\u0430ypal.com\r\n"
          "例子abc.中国\r\n\u05D0\u05D1.com\r\na\u05D0.com\r\n\u0627\u0661.com\r\n\u200Fa.com\r\n"
          "\u202Eexample.com\r\na\u200Cb.com\r\n\u0915\u094D\u200D\u0937.com\r\nex\u00ADample.com\r\n"
          "e\u0301cole.fr\r\nfaß.de\r\na_b.com\r\nab--cd.com\r\nxn--abc.com\r\nwww.例子.公司\r\n"_s;
    write(out, u"import_lines"_s, u"utf8_names.txt"_s, '\x02' + names.toUtf8());
    write(out, u"import_lines"_s, u"utf8_dots.txt"_s,
        '\x3F' + QByteArray("a.").repeated(5000) + "cn\n" + QByteArray(".").repeated(10000) + "\n"
            + QStringLiteral("。").repeated(3000).toUtf8() + "\n");
    write(out, u"import_lines"_s, u"invalid_utf8_names.txt"_s,
        QByteArray("\x04"
                   "\xE4\xBE\x8B\xE5.cn\r\n\xC0\xAE.com\r\na\xED\xA0\x80.com\r\n\xF4\x90\x80\x80.cn\r\n"));

    const char *const replies[] = {
        R"({"result":"1","info":{"version":"2.0","sid":"15","must":"0"}})",
        R"({"result":0,"info":{"version":"9.9","sid":"15","must":"1"}})",
        R"( {"result":1, "info":{"version":2.1e0,"sid":15,"must":true}} )",
        R"({"result":"1","info":{"version":"1.9","sid":"","must":null},"extra":[1,{"a":-0.5e-7}]})",
        R"({"result":"1","info":{"version":"2.0","sid":"\u4e2d\"","must":"0"}})",
    };
    int n = 0;
    for (const char *reply : replies)
        write(out, u"version_reply"_s, u"reply%1.json"_s.arg(++n), QByteArray(reply));

    const QString domains[] = { u"example.cn"_s, u"中文域名.中国"_s, u"a/../b"_s, u"x?y#z"_s, u"@evil.example:80/x"_s,
        u"100%2F.cn"_s, u" padded "_s, u".."_s };
    n = 0;
    for (const QString &domain : domains)
        write(out, u"record_url"_s, u"domain%1.txt"_s.arg(++n), domain.toUtf8());
    return g_failed ? 1 : 0;
}
