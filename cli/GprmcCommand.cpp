#include "GprmcCommand.h"

#include "GprmcParser.h"

#include <QFile>
#include <QTextStream>

#include <charconv>
#include <cstdio>

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
    if (!args.isEmpty()) {
        QTextStream(stderr) << "gprmc: unexpected argument " << args.first()
                            << " (NMEA text is read from standard input)\n";
        return 1;
    }
    QFile in;
    QFile out;
    if (!in.open(stdin, QIODevice::ReadOnly) || !out.open(stdout, QIODevice::WriteOnly)) {
        QTextStream(stderr) << "gprmc: cannot open standard input or output\n";
        return 1;
    }
    GprmcParser parser;
    while (true) {
        const QByteArray line = in.readLine();
        if (line.isEmpty())
            break;
        out.write(sampleJson(parser.feed(line.constData(), line.size())));
    }
    out.flush();
    return 0;
}
