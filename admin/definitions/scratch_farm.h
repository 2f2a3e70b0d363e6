// A scratch copy of the farm, served in this process only: the farm's store copied into a new
// store in the temporary folder, the object model module loaded into this process, told to serve
// the copy, and its classes registered with this process's activation so that every
// "SkyloomCOM.*" object the commands create here works on the copy. Nothing is written to the
// registry: every other program, and the QVCom service, go on serving the farm itself. Everything
// is undone, and the copy deleted, when the ScratchFarm goes.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include <windows.h>

#include "qvcomsrv/store/scratch_copy.h"

namespace brask {

class ScratchFarm {
public:
    // Copies the farm this machine serves. Throws sky::ComError when there is none, when it
    // cannot be copied, or when the object model module cannot be loaded.
    ScratchFarm();
    ~ScratchFarm();
    ScratchFarm(const ScratchFarm&) = delete;
    ScratchFarm& operator=(const ScratchFarm&) = delete;

    // The farm itself, and the copy.
    const sky::farm::StoreLocation& farmLocation() const { return farm_; }
    const sky::farm::StoreLocation& copyLocation() const { return copy_->location(); }

private:
    sky::farm::StoreLocation farm_;
    std::unique_ptr<sky::farm::ScratchStore> copy_;
    HMODULE module_ = nullptr;
    std::vector<DWORD> registrations_;
};

// The object model module's file: the in-process server registered for the farm class, else the
// one the installer put into the system folder.
std::u16string objectModelModulePath();

} // namespace brask
