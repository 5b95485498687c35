#include "CommandLine.h"

#include "BackupCommand.h"
#include "CatalogCommand.h"
#include "ExportCommand.h"
#include "FramesCommand.h"
#include "GprmcCommand.h"
#include "PlayCommand.h"
#include "SettingsCommand.h"
#include "TelemetryCommand.h"

#include <cstdio>

const QList<ToolCommand> &toolCommands()
{
    static const QList<ToolCommand> commands = {
        {"catalog", "list what a card, folder, recording file or archive holds",
         "usage: zidavova-tool catalog SOURCE [--password TEXT] [--mf2-keys K0,K1,K2]\n"
         "Prints the catalogue of SOURCE (card root, folder, recording file or .smb archive) as one JSON object.\n"
         "  --password TEXT      password of a locked card, archive or MF2 recording\n"
         "  --mf2-keys K0,K1,K2  the three MF2 key numbers\n",
         catalogCommand},
        {"frames", "list the frames of one recording",
         "usage: zidavova-tool frames SOURCE --entry N [--backward | --export] [--limit L] [--dump DIR]\n"
         "                            [--password TEXT] [--mf2-keys K0,K1,K2]\n"
         "Loads catalogue entry N and prints one JSON line per frame in the order playback reads them.\n"
         "  --entry N            catalogue index, as catalog prints it\n"
         "  --backward           backward order: latest GOP first, frames of a GOP in decode order\n"
         "  --export             the order an export reads them\n"
         "  --limit L            forward: frames with serial from L on; backward: up to L\n"
         "  --dump DIR           write each channel's video to DIR/video-<ch>.es and the audio to DIR/audio.es\n"
         "  --password TEXT      password of a locked card, archive or MF2 recording\n"
         "  --mf2-keys K0,K1,K2  the three MF2 key numbers\n",
         framesCommand},
        {"telemetry", "GPS track and G-sensor samples of one recording",
         "usage: zidavova-tool telemetry SOURCE --entry N [--format json|csv|gpx|kml] [--password TEXT]\n"
         "                               [--mf2-keys K0,K1,K2]\n"
         "Prints the GPS fixes (decimal degrees, km/h) and G-sensor samples of catalogue entry N.\n"
         "  --entry N            catalogue index, as catalog prints it\n"
         "  --format FORMAT      json (default), csv, gpx (GPX 1.1 track of the valid fixes) or kml (KML 2.2)\n"
         "  --password TEXT      password of a locked card, archive or MF2 recording\n"
         "  --mf2-keys K0,K1,K2  the three MF2 key numbers\n",
         telemetryCommand},
        {"play", "play one recording headless and report what was shown",
         "usage: zidavova-tool play SOURCE [--entry N] [--seconds S] [--mode forward|backward|fast] [--speed X]\n"
         "                          [--channels LIST] [--audio-out FILE] [--password TEXT] [--mf2-keys K0,K1,K2]\n"
         "Runs the viewer's read, decode and render threads and prints one JSON object of what was shown\n"
         "(\"shown\" per channel) and of the frames a channel too late for the clock dropped (\"dropped\").\n"
         "Ctrl+C stops early; the report is printed all the same (exit status 130, or 143 for SIGTERM).\n"
         "  --entry N            catalogue index to start at (default 0); playback moves on to the next ones,\n"
         "                       passing over those that cannot be played (listed under \"skipped\")\n"
         "  --seconds S          how long to play (default 10)\n"
         "  --mode MODE          forward (default), backward or fast\n"
         "  --speed X            playback speed, 0.1 to 4 (default 1)\n"
         "  --channels LIST      channels to decode, numbers 0-8 separated by commas (default all)\n"
         "  --audio-out FILE     write what the sound card would play to FILE as WAV\n"
         "  --password TEXT      password of a locked card, archive or MF2 recording\n"
         "  --mf2-keys K0,K1,K2  the three MF2 key numbers\n",
         playCommand},
        {"settings", "the camera settings a card holds",
         "usage: zidavova-tool settings SOURCE [--password TEXT]\n"
         "Prints the camera settings of the card at SOURCE as one JSON object, named and shown as the setup\n"
         "dialogs show them, with whether they were read faithfully. Never writes.\n"
         "  --password TEXT      password of a locked card\n",
         settingsCommand},
        {"export", "copy a time range of chosen channels to Matroska files with subtitles", exportUsage,
         exportCommand},
        {"backup", "Smart Backup of chosen recordings: an archive, or a folder of their files",
         "usage: zidavova-tool backup SOURCE --entries LIST --out FILE.smb [--password TEXT] [--overwrite]\n"
         "       zidavova-tool backup SOURCE --entries LIST --out-dir DIR [--overwrite]\n"
         "Backs up catalogue entries of SOURCE as the viewer's Smart Backup does: the banks of an index card\n"
         "or archive go into one archive (--out), the files of a record-file card, folder or recording are\n"
         "copied into a folder under their own names (--out-dir). Progress on standard error, a JSON summary\n"
         "on standard output. Nothing half-written is ever left: a failure or Ctrl+C removes what was begun\n"
         "(exit status 130, or 143 for SIGTERM). An existing output is replaced only with --overwrite; in a\n"
         "folder, files of the same name are otherwise skipped and reported (exit status 1).\n"
         "  --entries LIST       catalogue indexes as catalog prints them: 0,2,5 or ranges such as 3-7 (at most 50)\n"
         "  --out FILE.smb       the archive to write (index cards and archives)\n"
         "  --out-dir DIR        the folder to copy the recording files into (made when missing)\n"
         "  --password TEXT      the archive's password (its first 12 bytes are kept, the first 10 checked)\n"
         "  --overwrite          replace an existing archive, or files of the same name in DIR\n"
         "  --source-password TEXT  password of a locked source card, archive or MF2 recording\n"
         "  --mf2-keys K0,K1,K2  the three MF2 key numbers\n",
         backupCommand},
        {"gprmc", "parse NMEA $GPRMC text from standard input",
         "usage: zidavova-tool gprmc < nmea.txt\n"
         "Feeds each line of standard input to the GPRMC parser and prints one JSON line per line.\n",
         gprmcCommand},
    };
    return commands;
}

const ToolCommand *findToolCommand(const QString &name)
{
    for (const ToolCommand &c : toolCommands())
        if (name == QLatin1String(c.name))
            return &c;
    return nullptr;
}

int refuseArguments(const char *command, const QString &message)
{
    const ToolCommand *c = findToolCommand(QLatin1String(command));
    QString synopsis = c ? QString::fromUtf8(c->usage).section(QLatin1Char('\n'), 0, 0) : QString();
    synopsis.remove(0, synopsis.indexOf(QLatin1Char(':')) + 1);
    fprintf(stderr, "zidavova-tool %s: %s (usage:%s)\n", command, qPrintable(message), qPrintable(synopsis));
    return ExitRefused;
}

int failCommand(const char *command, const QString &message)
{
    fprintf(stderr, "zidavova-tool %s: %s\n", command, qPrintable(message));
    return ExitFailed;
}
