// Characters, hex digits, splitting of texts, program directory, computer name.
#pragma once

#include <QChar>
#include <QString>
#include <cstdint>
#include <string>

extern const QString HexSatz;  // "0123456789ABCDEF"

char AnsiChr(int32_t zahl);
QString ByteToHex(uint8_t b);
uint8_t HexToByte(const QString& HexStr);
uint8_t HexToByte(const std::string& HexStr);  // the same for 8-bit hex text

// Cuts the first term off S: the text before the first separator; S keeps
// what follows it. Without separator the whole S, and S becomes empty.
QString GetTerm(QString& S, QChar Trennzeichen);
QString GetTerm(std::string& S, QChar Trennzeichen);

// Program directory: the current directory less "Win32\Debug..." or
// "Win32\Release..." and less one trailing separator ("\" or "/").
QString GetAktVerz();
// The rule applied to a given directory text.
QString AktVerzFrom(const QString& currentDirectory);

QString GetComputerName();

// Hex text of a byte sequence, upper case, no separators.
std::string BytesToHex(const uint8_t* data, size_t length);
std::string BytesToHex(const std::string& bytes);
// Bytes of a hex text; a last single digit is ignored.
std::string HexToBytes(const std::string& hex);
