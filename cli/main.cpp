// zidavova-tool: command-line access to the catalogue, the loaded recordings and the telemetry.
#include "CommandLine.h"
#include "FileNameCodec.h"
#include "LogCategories.h"
#include "ZvVersion.h"

#include <QCoreApplication>
#include <QFile>
#include <cstdio>

namespace {

void printCommandList(FILE *out)
{
    fputs("usage: zidavova-tool COMMAND [ARGUMENTS] [--quiet]\n"
          "       zidavova-tool COMMAND --help\n"
          "       zidavova-tool --version\n"
          "Commands:\n",
          out);
    for (const ToolCommand &c : toolCommands())
        fprintf(out, "  %-10s %s\n", c.name, c.summary);
    fputs("Every command prints JSON on standard output and progress and errors on standard error;\n"
          "exit status 0 done, 1 failed, 2 refused arguments. --quiet silences the diagnostic lines.\n",
          out);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    installLosslessFileNames();
    // Decoded with the lossless codec, so a path that is not valid UTF-8
    // still names the same file.
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args.append(QFile::decodeName(argv[i]));
    const bool quiet = args.removeAll(QStringLiteral("--quiet")) > 0;
    installLogControl(quiet);

    const QString command = args.value(0);
    if (command == QLatin1String("--help") || command == QLatin1String("-h") || command == QLatin1String("help")) {
        printCommandList(stdout);
        return ExitDone;
    }
    if (command == QLatin1String("--version")) {
        printf("zidavova-tool %s\n", ZV_VERSION);
        return ExitDone;
    }
    const ToolCommand *tool = findToolCommand(command);
    if (!tool) {
        if (command.isEmpty())
            fputs("zidavova-tool: no command given\n", stderr);
        else
            fprintf(stderr, "zidavova-tool: unknown command %s\n", qPrintable(command));
        printCommandList(stderr);
        return ExitRefused;
    }
    const QStringList rest = args.mid(1);
    if (rest.contains(QStringLiteral("--help")) || rest.contains(QStringLiteral("-h"))) {
        fputs(tool->usage, stdout);
        fputs("  --quiet              silence the diagnostic lines\n"
              "  --help               this text\n",
              stdout);
        return ExitDone;
    }
    return tool->run(rest);
}
