// Run by the build once the codec modules are linked (platform/codecs/
// CMakeLists.txt): writes a C++ source that names, by file name, the digest of
// what the loader maps of each module file and of its code alone
// (platform/modules/LoadedDigest.h), and the size of the largest module file
// the build made.
//
// usage: lg_moduledigest_tool OUTPUT MODULE_FILE...
// The output is written only when it changes, so that a module linked again
// to the same bytes compiles nothing again. Exit status 1 when a module cannot
// be read as one.
#include "platform/modules/LoadedDigest.h"

#include <QByteArray>

#include <algorithm>
#include <cstdio>

namespace {

// The bytes of the file at path, by its bytes; false when it cannot be read.
bool readFile(const char *path, QByteArray *into)
{
    std::FILE *file = std::fopen(path, "rb");
    if (!file)
        return false;
    char buffer[1 << 16];
    size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        into->append(buffer, qsizetype(got));
    const bool read = !std::ferror(file);
    std::fclose(file);
    return read;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUTPUT MODULE_FILE...\n", argv[0]);
        return 2;
    }
    QByteArray entries;
    qint64 largest = 0;
    for (int i = 2; i < argc; ++i) {
        QByteArray bytes;
        if (!readFile(argv[i], &bytes)) {
            std::fprintf(stderr, "%s cannot be read\n", argv[i]);
            return 1;
        }
        const QByteArray path(argv[i]);
        const lg::image::LoadedDigest digest = lg::image::loadedDigest(bytes);
        if (digest.sha256.isEmpty()) {
            std::fprintf(stderr, "%s: %s\n", argv[i], qPrintable(digest.error));
            return 1;
        }
        largest = std::max<qint64>(largest, bytes.size());
        entries += "    {\"" + path.mid(path.lastIndexOf('/') + 1) + "\", \"" + digest.sha256.toHex() + "\", \""
            + lg::image::codeDigest(bytes).toHex() + "\"},\n";
    }
    const QByteArray text = "// Written by platform/modules/identity/ModuleDigestTool.cpp once the codec\n"
                            "// modules were linked: the digests of what the loader maps of each module\n"
                            "// file this build made and of its code, by file name, and the size of\n"
                            "// the largest.\n"
                            "namespace lg::image::built {\n\n"
                            "extern const char *const moduleDigests[][3];\n"
                            "extern const int moduleDigestCount;\n"
                            "extern const long long largestModuleSize;\n\n"
                            "const char *const moduleDigests[][3] = {\n"
        + entries + "};\nconst int moduleDigestCount = " + QByteArray::number(argc - 2) + ";\n"
        + "const long long largestModuleSize = " + QByteArray::number(largest) + ";\n\n"
        + "} // namespace lg::image::built\n";
    QByteArray previous;
    if (readFile(argv[1], &previous) && previous == text)
        return 0;
    std::FILE *output = std::fopen(argv[1], "wb");
    const bool written = output && std::fwrite(text.constData(), 1, size_t(text.size()), output) == size_t(text.size());
    if (!output || std::fclose(output) != 0 || !written) {
        std::fprintf(stderr, "%s cannot be written\n", argv[1]);
        return 1;
    }
    return 0;
}
