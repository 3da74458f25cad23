#include "quobimport.h"

#include <dlfcn.h>

namespace {

constexpr const char *kLibraryName = "libquob32.so";

// The export name of an ordinal, from the header's table; nullptr when the table lacks it.
const char *ExportName(int32_t ordinal) {
    for (const QUOB_Ordinal &entry : QUOB_ORDINALS)
        if (entry.Ordinal == ordinal) return entry.Name;
    for (const QUOB_Ordinal &entry : QUOB_DEEP_ORDINALS)
        if (entry.Ordinal == ordinal) return entry.Name;
    return nullptr;
}

template <typename Fn>
bool Bind(void *library, Fn &slot, int32_t ordinal, std::string &error) {
    const char *name = ExportName(ordinal);
    void *address = name ? dlsym(library, name) : nullptr;
    if (!address) {
        error = "The ordinal " + std::to_string(ordinal) +
                " could not be located in the dynamic link library " + kLibraryName;
        return false;
    }
    slot = reinterpret_cast<Fn>(address);
    return true;
}

}  // namespace

TQuobLibrary::~TQuobLibrary() { Unload(); }

bool TQuobLibrary::Load(const std::vector<std::string> &folders, std::string &error) {
    Unload();
    std::string places, failures;
    for (const std::string &folder : folders) {
        handle = dlopen((folder + "/" + kLibraryName).c_str(), RTLD_NOW | RTLD_LOCAL);
        if (handle) break;
        places += folder + ", ";
        failures += std::string(dlerror()) + "; ";
    }
    if (!handle) handle = dlopen(kLibraryName, RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        error = std::string("The program can't start because ") + kLibraryName +
                " could not be loaded from " + places + "or the library search path (" + failures +
                dlerror() + ")";
        return false;
    }
    TQuobImports bound;
    const bool complete = Bind(handle, bound.CreateIBufferEx, 258, error) &&
                          Bind(handle, bound.DeleteIBuffer, 259, error) &&
                          Bind(handle, bound.IBufferMessage, 262, error) &&
                          Bind(handle, bound.IBufferDC, 263, error) &&
                          Bind(handle, bound.IBufferFilled, 264, error) &&
                          Bind(handle, bound.CreateFiller, 769, error) &&
                          Bind(handle, bound.DeleteFiller, 770, error) &&
                          Bind(handle, bound.UpdateFiller, 771, error) &&
                          Bind(handle, bound.GetFiller, 772, error) &&
                          Bind(handle, bound.GetLastError, 2, error) &&
                          Bind(handle, bound.GetLastErrorEx, 3, error) &&
                          Bind(handle, bound.CreateRealFunction, 514, error) &&
                          Bind(handle, bound.DeleteFunction, 515, error) &&
                          Bind(handle, bound.AccessParamByName, 519, error) &&
                          Bind(handle, bound.GetFunction, 520, error) &&
                          Bind(handle, bound.CreateRecursiveFunction, 521, error) &&
                          Bind(handle, bound.CreateDeepBuffer, 1025, error) &&
                          Bind(handle, bound.DeleteDeepBuffer, 1026, error) &&
                          Bind(handle, bound.DeepBufferView, 1027, error) &&
                          Bind(handle, bound.DeepBufferMessage, 1028, error) &&
                          Bind(handle, bound.DeepBufferDC, 1029, error) &&
                          Bind(handle, bound.DeepBufferFilled, 1030, error) &&
                          Bind(handle, bound.DeepBufferStatus, 1031, error) &&
                          Bind(handle, bound.DeepBufferApproximation, 1032, error);
    if (!complete) {
        Unload();
        return false;
    }
    imports = bound;
    return true;
}

void TQuobLibrary::Unload() {
    imports = TQuobImports{};
    if (handle) dlclose(handle);
    handle = nullptr;
}
