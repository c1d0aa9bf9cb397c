// The libFuzzer program of one entry point: QUILMO_FUZZ_ENTRY names it.
#include <cstddef>
#include <cstdint>

int QUILMO_FUZZ_ENTRY(const uint8_t* data, size_t size);

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return QUILMO_FUZZ_ENTRY(data, size);
}
