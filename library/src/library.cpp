// Load and unload steps of the library, in their fixed order.
//
// The floating-point environment of the loading thread is left exactly as it was: generated
// code runs under control words of its own (LaunchFunction, the pixel routine), so nothing
// needs the loading thread's x87 unit reinitialised, and a host whose own long double code
// suddenly trapped on overflow would be broken by it.
#include "compile/functions.h"
#include "compile/tables.h"
#include "fill/rendering.h"
#include "platform/platform.h"

namespace quob {
namespace {

constexpr const char *kBanner =
    "Quob Graphics Library beta 1.0\r\n"
    "Written by the Spiralis developers\r\n"
    "E-mail: spiralis@localhost\r\n"
    "http://localhost/spiralis/";

__attribute__((constructor)) void LibraryLoad() {
    // The compiler unit needs no work: the 128 slots start free (zero-filled) and both
    // lookup tables start absent. They are created on first use.
    RenderingUnitInit();
    platform::MessageBox(kBanner, "QUOB32 You're welcome!", platform::MB_ICONINFORMATION);
}

__attribute__((destructor)) void LibraryUnload() {
    RenderingUnitDone();
    ReleaseAllFunctions();
    FreeLookupTables();
}

}  // namespace
}  // namespace quob
