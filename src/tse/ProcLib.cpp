#include "tse/ProcLib.h"

#include "platform/Ansi.h"
#include "platform/Host.h"
#include "platform/Paths.h"

#include <algorithm>

const QString HexSatz = QStringLiteral("0123456789ABCDEF");

namespace {

// The digit value in 8-bit arithmetic: "0".."9" and "A".."F" are right,
// anything else gives a wrong value, as callers pass only those.
uint8_t DigitValue(uint16_t code)
{
    return code <= 0x39 ? static_cast<uint8_t>(code - 0x30) : static_cast<uint8_t>(code - 0x41 + 10);
}

// A missing digit reads as "0" rather than past the end of the text.
uint16_t CodeAt(const QString& s, qsizetype i)
{
    return i < s.size() ? s.at(i).unicode() : 0x30;
}

uint16_t CodeAt(const std::string& s, size_t i)
{
    return i < s.size() ? static_cast<unsigned char>(s[i]) : 0x30;
}

template <typename Text>
uint8_t HexPair(const Text& s)
{
    return static_cast<uint8_t>(DigitValue(CodeAt(s, 0)) * 16 + DigitValue(CodeAt(s, 1)));
}

// Earliest occurrence of the folder written with either separator.
qsizetype FindFolder(const QString& dir, const QString& backslashForm)
{
    QString slashForm = backslashForm;
    slashForm.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const qsizetype a = dir.indexOf(backslashForm);
    const qsizetype b = dir.indexOf(slashForm);
    if (a < 0)
        return b;
    if (b < 0)
        return a;
    return std::min(a, b);
}

}  // namespace

char AnsiChr(int32_t zahl)
{
    return static_cast<char>(static_cast<uint8_t>(zahl & 0xFF));
}

QString ByteToHex(uint8_t b)
{
    QString s(2, QLatin1Char('0'));
    s[0] = HexSatz.at(b / 16);
    s[1] = HexSatz.at(b % 16);
    return s;
}

uint8_t HexToByte(const QString& HexStr)
{
    return HexPair(HexStr);
}

uint8_t HexToByte(const std::string& HexStr)
{
    return HexPair(HexStr);
}

QString GetTerm(QString& S, QChar Trennzeichen)
{
    const qsizetype p = S.indexOf(Trennzeichen);
    if (p < 0) {
        QString all = S;
        S.clear();
        return all;
    }
    QString term = S.left(p);
    S.remove(0, p + 1);
    return term;
}

QString GetTerm(std::string& S, QChar Trennzeichen)
{
    // Every byte is one character of the code page, so positions in the
    // 16-bit form are positions in S.
    const qsizetype p = plat::AnsiToQ(S).indexOf(Trennzeichen);
    if (p < 0) {
        const QString all = plat::AnsiToQ(S);
        S.clear();
        return all;
    }
    const QString term = plat::AnsiToQ(S.substr(0, static_cast<size_t>(p)));
    S.erase(0, static_cast<size_t>(p) + 1);
    return term;
}

QString AktVerzFrom(const QString& currentDirectory)
{
    QString dir = currentDirectory;
    for (const QString& folder : {QStringLiteral("Win32\\Debug"), QStringLiteral("Win32\\Release")}) {
        const qsizetype p = FindFolder(dir, folder);
        if (p >= 0)
            dir.truncate(p);
    }
    if (dir.endsWith(QLatin1Char('\\')) || dir.endsWith(QLatin1Char('/')))
        dir.chop(1);
    return dir;
}

QString GetAktVerz()
{
    return AktVerzFrom(plat::CurrentDirectory());
}

QString GetComputerName()
{
    return plat::ComputerName();
}

std::string BytesToHex(const uint8_t* data, size_t length)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    hex.reserve(length * 2);
    for (size_t i = 0; i < length; ++i) {
        hex.push_back(digits[data[i] >> 4]);
        hex.push_back(digits[data[i] & 0x0F]);
    }
    return hex;
}

std::string BytesToHex(const std::string& bytes)
{
    return BytesToHex(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

std::string HexToBytes(const std::string& hex)
{
    std::string bytes;
    bytes.reserve(hex.size() / 2);
    for (size_t i = 0; i + 1 < hex.size(); i += 2) {
        // Lower-case digits come from outside (typed or configured serials);
        // read them as their upper-case forms.
        char pair[2] = {hex[i], hex[i + 1]};
        for (char& c : pair) {
            if (c >= 'a' && c <= 'f')
                c = static_cast<char>(c - 'a' + 'A');
        }
        bytes.push_back(static_cast<char>(HexToByte(std::string(pair, 2))));
    }
    return bytes;
}
