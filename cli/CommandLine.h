#pragma once
// The conventions every command of zidavova-tool shares: a usage text
// printed by --help, refused arguments reported on one line with exit
// status 2, and the table of commands main() dispatches on.
#include <QString>
#include <QStringList>

struct ToolCommand {
    const char *name;
    const char *summary;   // one line for the command list
    const char *usage;     // "usage: zidavova-tool NAME ..." first, then the options
    int (*run)(const QStringList &args);
};

// Exit statuses: done, failed, refused arguments.
enum ToolExit { ExitDone = 0, ExitFailed = 1, ExitRefused = 2 };

const QList<ToolCommand> &toolCommands();
const ToolCommand *findToolCommand(const QString &name);

// Prints "zidavova-tool NAME: MESSAGE (usage: ...)" on one line of stderr
// and returns ExitRefused.
int refuseArguments(const char *command, const QString &message);
// Prints "zidavova-tool NAME: MESSAGE" on stderr and returns ExitFailed.
int failCommand(const char *command, const QString &message);
