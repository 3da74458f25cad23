// Binding of the viewer to libquob32 by export ordinal.
//
// ELF has no ordinals: the library is opened with dlopen once the QApplication exists, each of
// the 23 ordinals the viewer imports is looked up in QUOB_ORDINALS (or QUOB_DEEP_ORDINALS) of the
// public header, and the name found there is resolved with dlsym. A missing library or an ordinal
// that does not resolve is fatal, as the platform loader would refuse to start the program.
#ifndef SPIRALIS_QUOBIMPORT_H
#define SPIRALIS_QUOBIMPORT_H

#include <string>
#include <vector>

#include "quob32.h"

// The imports, named after their exports without the "QUOB_" prefix: the image buffer and filler
// operations; the last error, through which the formula dialogs tell why a formula does not
// compile; and the function-object operations with which the formula dialogs compile a typed
// formula on its own, look at it and delete it again, never installing it.
struct TQuobImports {
    decltype(&::QUOB_CreateIBufferEx) CreateIBufferEx = nullptr;             // 258
    decltype(&::QUOB_DeleteIBuffer) DeleteIBuffer = nullptr;                 // 259
    decltype(&::QUOB_IBufferMessage) IBufferMessage = nullptr;               // 262
    decltype(&::QUOB_IBufferDC) IBufferDC = nullptr;                         // 263
    decltype(&::QUOB_IBufferFilled) IBufferFilled = nullptr;                 // 264
    decltype(&::QUOB_CreateFiller) CreateFiller = nullptr;                   // 769
    decltype(&::QUOB_DeleteFiller) DeleteFiller = nullptr;                   // 770
    decltype(&::QUOB_UpdateFiller) UpdateFiller = nullptr;                   // 771
    decltype(&::QUOB_GetFiller) GetFiller = nullptr;                         // 772
    decltype(&::QUOB_GetLastError) GetLastError = nullptr;                   // 2
    decltype(&::QUOB_GetLastErrorEx) GetLastErrorEx = nullptr;               // 3
    decltype(&::CreateRealFunction) CreateRealFunction = nullptr;            // 514
    decltype(&::DeleteFunction) DeleteFunction = nullptr;                    // 515
    decltype(&::AccessParamByName) AccessParamByName = nullptr;              // 519
    decltype(&::GetFunction) GetFunction = nullptr;                          // 520
    decltype(&::CreateRecursiveFunction) CreateRecursiveFunction = nullptr;  // 521
    // The deep image buffers, which draw the views below what extended precision resolves.
    decltype(&::QUOB_CreateDeepBuffer) CreateDeepBuffer = nullptr;                // 1025
    decltype(&::QUOB_DeleteDeepBuffer) DeleteDeepBuffer = nullptr;                // 1026
    decltype(&::QUOB_DeepBufferView) DeepBufferView = nullptr;                    // 1027
    decltype(&::QUOB_DeepBufferMessage) DeepBufferMessage = nullptr;              // 1028
    decltype(&::QUOB_DeepBufferDC) DeepBufferDC = nullptr;                        // 1029
    decltype(&::QUOB_DeepBufferFilled) DeepBufferFilled = nullptr;                // 1030
    decltype(&::QUOB_DeepBufferStatus) DeepBufferStatus = nullptr;                // 1031
    decltype(&::QUOB_DeepBufferApproximation) DeepBufferApproximation = nullptr;  // 1032
};

// The library, opened and bound for as long as the object lives: closing it runs the library's
// unload actions.
class TQuobLibrary {
  public:
    TQuobLibrary() = default;
    ~TQuobLibrary();
    TQuobLibrary(const TQuobLibrary &) = delete;
    TQuobLibrary &operator=(const TQuobLibrary &) = delete;

    // Opens libquob32.so from the first of the folders that holds one, else by the dynamic
    // loader's search, and binds the imports. The library's load actions (its banner) run inside
    // this call. On failure the imports stay unbound, the library is closed again and error holds a
    // sentence for the user.
    bool Load(const std::vector<std::string> &folders, std::string &error);
    // Unbinds the imports and closes the library.
    void Unload();

    const TQuobImports &Imports() const { return imports; }

  private:
    void *handle = nullptr;
    TQuobImports imports;
};

#endif  // SPIRALIS_QUOBIMPORT_H
