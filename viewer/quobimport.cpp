#include "quobimport.h"

#include <dlfcn.h>

#include <cstring>

TQuobImports Quob;

namespace {

constexpr const char *kLibraryName = "libquob32.so";
void *libraryHandle = nullptr;

// The export name of an ordinal, from the header's table; nullptr when the table lacks it.
const char *ExportName(int32_t ordinal) {
    for (const QUOB_Ordinal &entry : QUOB_ORDINALS)
        if (entry.Ordinal == ordinal) return entry.Name;
    return nullptr;
}

template <typename Fn>
bool Bind(Fn &slot, int32_t ordinal, std::string &error) {
    const char *name = ExportName(ordinal);
    void *address = name ? dlsym(libraryHandle, name) : nullptr;
    if (!address) {
        error = "The ordinal " + std::to_string(ordinal) +
                " could not be located in the dynamic link library " + kLibraryName;
        return false;
    }
    slot = reinterpret_cast<Fn>(address);
    return true;
}

}  // namespace

bool LoadQuob32(const std::string &firstFolder, std::string &error) {
    UnloadQuob32();
    const std::string besideFirst = firstFolder + "/" + kLibraryName;
    libraryHandle = dlopen(besideFirst.c_str(), RTLD_NOW | RTLD_LOCAL);
    std::string firstFailure;
    if (!libraryHandle) {
        firstFailure = dlerror();
        libraryHandle = dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
    }
    if (!libraryHandle) {
        error = std::string("The program can't start because ") + kLibraryName +
                " could not be loaded from " + firstFolder + " or the library search path (" +
                firstFailure + "; " + dlerror() + ")";
        return false;
    }
    TQuobImports bound;
    const bool complete =
        Bind(bound.CreateIBufferEx, 258, error) && Bind(bound.DeleteIBuffer, 259, error) &&
        Bind(bound.IBufferMessage, 262, error) && Bind(bound.IBufferDC, 263, error) &&
        Bind(bound.IBufferFilled, 264, error) && Bind(bound.CreateFiller, 769, error) &&
        Bind(bound.DeleteFiller, 770, error) && Bind(bound.UpdateFiller, 771, error) &&
        Bind(bound.GetFiller, 772, error) && Bind(bound.GetLastError, 2, error) &&
        Bind(bound.GetLastErrorEx, 3, error);
    if (!complete) {
        UnloadQuob32();
        return false;
    }
    Quob = bound;
    return true;
}

void UnloadQuob32() {
    Quob = TQuobImports{};
    if (libraryHandle) dlclose(libraryHandle);
    libraryHandle = nullptr;
}
