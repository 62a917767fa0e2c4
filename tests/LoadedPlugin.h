// The built plug-in library, loaded the way a host loads it: by file name,
// through its exported entry points.
#pragma once

#include "plugin/vst2abi.h"

#include <string>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif

using EntryPoint = AEffect*(VST_CALL*)(audioMasterCallback);

struct LoadedPlugin {
    EntryPoint vstPluginMain = nullptr;
    EntryPoint main = nullptr;

    // A bare file name is looked up in the working directory.
    explicit LoadedPlugin(const char* file)
    {
#if defined(_WIN32)
        HMODULE module = LoadLibraryA(file);
        if (!module) return;
        vstPluginMain = reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(GetProcAddress(module, "VSTPluginMain")));
        main = reinterpret_cast<EntryPoint>(reinterpret_cast<void*>(GetProcAddress(module, "main")));
#else
        const std::string name = file;
        const std::string path = name.find('/') == std::string::npos ? "./" + name : name;
        void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!module) return;
        vstPluginMain = reinterpret_cast<EntryPoint>(dlsym(module, "VSTPluginMain"));
        main = reinterpret_cast<EntryPoint>(dlsym(module, "main"));
#endif
    }
};
