#pragma once
// Where the generated sample cards and the build live, as ctest tells the tests.
#include <QString>
#include <cstdlib>

inline QString zvEnvPath(const char *name)
{
    const char *value = std::getenv(name);
    return value ? QString::fromLocal8Bit(value) : QString();
}

inline QString fixtureDir() { return zvEnvPath("ZV_FIXTURE_DIR"); }
inline QString binaryDir() { return zvEnvPath("ZV_BINARY_DIR"); }
inline QString sourceDir() { return zvEnvPath("ZV_SOURCE_DIR"); }
