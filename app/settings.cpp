#include "app/settings.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <limits>

namespace {

// The value of a key is cut to this many characters, like the text buffer a Windows INI reader
// hands out.
constexpr qsizetype MaxValueLength = 2047;
// The settings file holds one short line of interest. Reading stops after this many bytes, so a
// huge file (or a link to an endless device) cannot stall start-up.
constexpr qint64 MaxBytesRead = 4 * 1024 * 1024;
// Longer lines are cut to this many bytes; it comfortably holds a key and a 2047-character value.
constexpr qint64 MaxLineBytes = 16 * 1024;

bool isBlank(QChar c)
{
    return c == u' ' || c == u'\t';
}

int hexDigitValue(QChar c)
{
    if (c >= u'0' && c <= u'9')
        return c.unicode() - u'0';
    if (c >= u'a' && c <= u'f')
        return c.unicode() - u'a' + 10;
    if (c >= u'A' && c <= u'F')
        return c.unicode() - u'A' + 10;
    return -1;
}

// Removes one pair of matching single or double quotes around a value.
QString unquoted(const QString& value)
{
    if (value.size() >= 2) {
        const QChar first = value.front();
        if ((first == u'"' || first == u'\'') && value.back() == first)
            return value.mid(1, value.size() - 2);
    }
    return value;
}

// Reads the next line, cut to MaxLineBytes bytes; the rest of a longer line is skipped. Every byte
// taken from the file counts against budget. Returns false at the end of the data or the budget.
bool readCappedLine(QFile& file, QByteArray& line, qint64& budget)
{
    char buffer[MaxLineBytes + 1];
    bool haveLine = false;
    while (budget > 0) {
        // readLine stores at most maxSize - 1 bytes and a terminating zero.
        const qint64 got = file.readLine(buffer, std::min<qint64>(sizeof buffer, budget + 1));
        if (got <= 0)
            break;
        budget -= got;
        if (!haveLine)
            line = QByteArray(buffer, got);
        haveLine = true;
        if (buffer[got - 1] == '\n')
            break;
    }
    return haveLine;
}

} // namespace

int parseIniInteger(const QString& text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isBlank(text[begin]))
        ++begin;
    while (end > begin && isBlank(text[end - 1]))
        --end;

    bool negative = false;
    if (begin < end && (text[begin] == u'+' || text[begin] == u'-')) {
        negative = text[begin] == u'-';
        ++begin;
    }

    int base = 10;
    if (begin < end && text[begin] == u'$') {
        base = 16;
        ++begin;
    } else if (end - begin >= 2 && text[begin] == u'0' &&
               (text[begin + 1] == u'x' || text[begin + 1] == u'X')) {
        base = 16;
        begin += 2;
    }
    if (begin == end)
        return 0;

    // The magnitude is accumulated in 64 bits and checked against the 32-bit range after every
    // digit, so a long run of digits can never overflow.
    const std::int64_t limit = negative
                                   ? -static_cast<std::int64_t>(std::numeric_limits<int>::min())
                                   : static_cast<std::int64_t>(std::numeric_limits<int>::max());
    std::int64_t magnitude = 0;
    for (qsizetype i = begin; i < end; ++i) {
        const int digit = hexDigitValue(text[i]);
        if (digit < 0 || digit >= base)
            return 0;
        magnitude = magnitude * base + digit;
        if (magnitude > limit)
            return 0;
    }
    return static_cast<int>(negative ? -magnitude : magnitude);
}

std::vector<IniValue> readIniSection(const std::string& iniPath, std::string_view section)
{
    std::vector<IniValue> values;
    // Opening a FIFO would block until a writer comes: the file is opened without waiting, and
    // read only when it turns out to be a regular file.
    const int fd = ::open(iniPath.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return values;
    struct stat info
    {
    };
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return values;
    }
    QFile file;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return values;
    }

    const QString wanted = QString::fromUtf8(section.data(), qsizetype(section.size()));
    qint64 budget = MaxBytesRead;
    bool inSection = false;
    bool firstLine = true;
    QByteArray bytes;
    while (readCappedLine(file, bytes, budget)) {
        if (firstLine && bytes.startsWith("\xEF\xBB\xBF"))
            bytes.remove(0, 3);
        firstLine = false;
        const QString line = QString::fromUtf8(bytes).trimmed();
        if (line.isEmpty() || line.startsWith(u';'))
            continue;
        if (line.startsWith(u'[')) {
            const qsizetype close = line.indexOf(u']');
            const QString name = line.mid(1, close < 0 ? -1 : close - 1).trimmed();
            inSection = name.compare(wanted, Qt::CaseInsensitive) == 0;
            continue;
        }
        if (!inSection)
            continue;
        const qsizetype equals = line.indexOf(u'=');
        if (equals < 0)
            continue;
        const QString value = unquoted(line.mid(equals + 1).trimmed()).left(MaxValueLength);
        values.push_back({line.left(equals).trimmed().toStdString(), value.toStdString()});
    }
    return values;
}

int readMonitorSetting(const std::string& iniPath)
{
    // The first occurrence of the key counts, as with the platform's INI readers.
    for (const IniValue& entry : readIniSection(iniPath, "DEF")) {
        if (QString::fromStdString(entry.key).compare(u"MONITOR", Qt::CaseInsensitive) == 0)
            return parseIniInteger(QString::fromStdString(entry.value));
    }
    return 0;
}

int chooseMonitorIndex(int value, int monitorCount)
{
    if (value < 0 || value > monitorCount - 1)
        return 0;
    return value;
}
