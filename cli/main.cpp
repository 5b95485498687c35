// zidavova-tool: command-line access to the catalogue, the loaded recordings and the telemetry.
#include "CatalogCommand.h"
#include "FramesCommand.h"
#include "GprmcCommand.h"
#include "PlayCommand.h"
#include "SettingsCommand.h"
#include "TelemetryCommand.h"

#include <QCoreApplication>
#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const QString command = args.value(0);
    if (command == QLatin1String("catalog"))
        return catalogCommand(args.mid(1));
    if (command == QLatin1String("gprmc"))
        return gprmcCommand(args.mid(1));
    if (command == QLatin1String("frames"))
        return framesCommand(args.mid(1));
    if (command == QLatin1String("telemetry"))
        return telemetryCommand(args.mid(1));
    if (command == QLatin1String("play"))
        return playCommand(args.mid(1));
    if (command == QLatin1String("settings"))
        return settingsCommand(args.mid(1));
    fputs("usage: zidavova-tool catalog SOURCE [--password TEXT] [--mf2-keys K0,K1,K2]\n"
          "       zidavova-tool gprmc < nmea.txt\n"
          "       zidavova-tool frames SOURCE --entry N [--backward | --export] [--limit L] [--dump DIR]\n"
          "       zidavova-tool telemetry SOURCE --entry N [--format json|csv|gpx]\n"
          "       zidavova-tool play SOURCE [--entry N] [--seconds S] [--mode forward|backward|fast] [--speed X]\n"
          "                     [--channels LIST] [--audio-out FILE]\n"
          "       zidavova-tool settings SOURCE [--password TEXT]\n",
          stderr);
    return 1;
}
