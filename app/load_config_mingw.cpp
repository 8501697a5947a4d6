// The program's PE load configuration, for the MinGW build (Visual Studio's runtime brings its
// own, and the linker sets the same flag from /DEPENDENTLOADFLAG).
//
// DependentLoadFlags = LOAD_LIBRARY_SEARCH_SYSTEM32: the loader resolves the DLLs the program
// needs while the process starts from the system directory only, never from beside the program
// or the current folder. SetDefaultDllDirectories does the same for every later load, but only
// from the entry point on. GNU ld points the load configuration entry of the data directory at
// the symbol _load_config_used and takes its size from the first field.
//
// The layout is the 64-bit IMAGE_LOAD_CONFIG_DIRECTORY up to SEHandlerCount, spelt out here
// because older MinGW headers still call DependentLoadFlags "Reserved1".
#include <cstddef>
#include <cstdint>

struct LoadConfig64 {
    std::uint32_t size;
    std::uint32_t timeDateStamp;
    std::uint16_t majorVersion, minorVersion;
    std::uint32_t globalFlagsClear, globalFlagsSet;
    std::uint32_t criticalSectionDefaultTimeout;
    std::uint64_t deCommitFreeBlockThreshold, deCommitTotalFreeThreshold;
    std::uint64_t lockPrefixTable;
    std::uint64_t maximumAllocationSize, virtualMemoryThreshold;
    std::uint64_t processAffinityMask;
    std::uint32_t processHeapFlags;
    std::uint16_t csdVersion;
    std::uint16_t dependentLoadFlags;
    std::uint64_t editList;
    std::uint64_t securityCookie;  // none: the MinGW runtime keeps its own stack guard
    std::uint64_t seHandlerTable, seHandlerCount;
};
static_assert(offsetof(LoadConfig64, dependentLoadFlags) == 0x4E);
static_assert(sizeof(LoadConfig64) == 0x70);

inline constexpr std::uint16_t LoadLibrarySearchSystem32 = 0x0800;

// Kept through --gc-sections by the linker's -u for this name.
extern "C" const LoadConfig64 _load_config_used{
    .size = sizeof(LoadConfig64),
    .dependentLoadFlags = LoadLibrarySearchSystem32,
};
