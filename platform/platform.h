#pragma once

#include <functional>

namespace quernfold {

class Browser;
class Clipboard;
class Dialogs;
class HttpClient;
class Skin;

// Everything modal or outside the process that the window uses; tests hand in scripted ones.
struct Platform {
    Dialogs *dialogs = nullptr;
    Browser *browser = nullptr;
    Skin *skin = nullptr;
    HttpClient *http = nullptr;
    // Ends the program's event loop with the given status.
    std::function<void(int)> quit;
    Clipboard *clipboard = nullptr;
};

} // namespace quernfold
