// The host service runner of the host link's tests, shared by the file
// dialog and connection dialog tests.
#include "hostlink/tests/host_service_process.cpp"  // NOLINT(bugprone-suspicious-include)
