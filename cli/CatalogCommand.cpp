#include "CatalogCommand.h"

#include "CommandLine.h"
#include "Reader.h"
#include "SourceOpening.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>

int catalogCommand(const QStringList &args)
{
    QString source;
    QByteArray password;
    bool havePassword = false;
    Mf2Keys keys = defaultMf2Keys();
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        if (arg == QLatin1String("--password") && i + 1 < args.size()) {
            password = args[++i].toUtf8();
            havePassword = true;
        } else if (arg == QLatin1String("--mf2-keys") && i + 1 < args.size()) {
            if (!parseKeys(args[++i], &keys))
                return refuseArguments("catalog", QStringLiteral("--mf2-keys wants three numbers separated by commas"));
        } else if (source.isEmpty() && !arg.startsWith(QLatin1String("--"))) {
            source = arg;
        } else {
            return refuseArguments("catalog", QStringLiteral("unexpected argument %1").arg(arg));
        }
    }
    if (source.isEmpty())
        return refuseArguments("catalog", QStringLiteral("no SOURCE given"));

    Reader reader;
    usePassword(reader, keys, havePassword, password);
    QJsonObject catalogue;
    const QString error = openSource(reader, source, &catalogue);
    if (!error.isEmpty())
        return failCommand("catalog", error);
    fputs(QJsonDocument(catalogue).toJson(QJsonDocument::Compact).constData(), stdout);
    fputc('\n', stdout);
    return 0;
}
