// A stand-in for the device-security agent's library: loadable, with the
// request entry answering "done at once".
extern "C" __attribute__((visibility("default"))) int CMG_Request(void*, unsigned, void*, unsigned) { return 3; }
