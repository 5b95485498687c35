#include "GprmcCommand.h"

#include "CommandLine.h"
#include "GprmcParser.h"

#include <QTextStream>

#include <charconv>
#include <iostream>
#include <string>

namespace {

// Shortest text that reads back as the same float.
QByteArray floatText(float value)
{
    char text[32];
    const auto result = std::to_chars(text, text + sizeof text, value);
    return QByteArray(text, int(result.ptr - text));
}

// One JSON object per line. status is the sample's integer status: 65 ('A')
// for a valid fix, the code of another NMEA status character, 0 when the
// call parsed no sentence.
QByteArray sampleJson(const GpsSample &s)
{
    return "{\"status\": " + QByteArray::number(s.status) + ", \"lat\": " + floatText(s.lat)
           + ", \"lon\": " + floatText(s.lon) + ", \"speed\": " + QByteArray::number(s.speed)
           + ", \"course\": " + floatText(s.course) + "}\n";
}

} // namespace

int gprmcCommand(const QStringList &args)
{
    if (!args.isEmpty())
        return refuseArguments("gprmc", QStringLiteral("unexpected argument %1 (NMEA text is read from standard input)")
                                            .arg(args.first()));
    // Standard streams rather than QFile on stdin: its line reads through a
    // stdio handle lose the text after a NUL byte, and line noise has them.
    std::ios::sync_with_stdio(false);
    GprmcParser parser;
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!std::cin.eof())
            line += '\n';
        const QByteArray json = sampleJson(parser.feed(line.data(), qint64(line.size())));
        std::cout.write(json.constData(), json.size());
    }
    std::cout.flush();
    if (!std::cout) {
        return failCommand("gprmc", QStringLiteral("cannot write the output"));
    }
    return 0;
}
