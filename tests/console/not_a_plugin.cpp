// A loadable module without the plug-in's entry points, for the host to refuse.
extern "C" __attribute__((visibility("default"))) int NotAPlugin() { return 0; }
