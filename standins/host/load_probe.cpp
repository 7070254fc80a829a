// Loads the plug-in into a variant of the stand-in host and reports by exit code whether it
// loaded: 0 loaded, 1 refused. The first argument is the version text the host reports.
#include "standins/host/host.h"

#include <string>

int main(int argc, char** argv)
{
    if (argc < 3) return 2;
    host::SetVersion(argv[1]);
    const bool loaded = host::LoadPlugin(argv[2]).module != nullptr;
    host::UnloadPlugin();
    return loaded ? 0 : 1;
}
