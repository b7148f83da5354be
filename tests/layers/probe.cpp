// Includes the one header named by the build; whether that compiles says whether a layer can see it.
#include QUERNFOLD_PROBE_HEADER
