#include "geotiff/GdalLibrary.h"

#include <dlfcn.h>

#include <mutex>

namespace {

struct TLoaded {
    TGdal Functions;
    std::string Problem;
};

TLoaded Load()
{
    TLoaded loaded;
    // The version the program was built against: another one may differ in what it takes.
    void* library = ::dlopen(ORVANTA_GDAL_SONAME, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        const char* why = ::dlerror();
        loaded.Problem = std::string("GDAL cannot be loaded: ") + (why != nullptr ? why : ORVANTA_GDAL_SONAME);
        return loaded;
    }
#define ORVANTA_GDAL_RESOLVE(name)                                                                                     \
    loaded.Functions.name = reinterpret_cast<decltype(&::name)>(::dlsym(library, #name));                              \
    if (loaded.Functions.name == nullptr && loaded.Problem.empty())                                                    \
        loaded.Problem = "GDAL cannot be loaded: " ORVANTA_GDAL_SONAME " has no " #name;
    ORVANTA_GDAL_FUNCTIONS(ORVANTA_GDAL_RESOLVE)
#undef ORVANTA_GDAL_RESOLVE
    // The library stays loaded for the life of the process: GDAL keeps state (its drivers,
    // per-thread error handlers) that outlives any one call.
    if (loaded.Problem.empty())
        loaded.Functions.GDALAllRegister();
    return loaded;
}

} // namespace

const TGdal* Gdal(std::string& why)
{
    static std::once_flag once;
    static TLoaded loaded;
    std::call_once(once, [] { loaded = Load(); });
    if (!loaded.Problem.empty()) {
        why = loaded.Problem;
        return nullptr;
    }
    return &loaded.Functions;
}
