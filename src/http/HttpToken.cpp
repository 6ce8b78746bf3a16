#include "http/HttpToken.h"

#include "platform/FileMode.h"
#include "platform/Files.h"
#include "platform/Random.h"

#include <QByteArray>

namespace {

constexpr size_t kTokenBytes = 32;

bool IsTokenText(const std::string& text)
{
    if (text.size() != kTokenBytes * 2) return false;
    for (const char c : text)
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    return true;
}

int CreateToken(const QString& path, std::string& token, QString& reason)
{
    unsigned char raw[kTokenBytes];
    int err = plat::RandomBytes(raw, sizeof raw);
    if (err != 0) {
        reason = "HTTP: kein Zufall für das Token, Err=" + QString::number(err);
        return err;
    }
    token = QByteArray(reinterpret_cast<const char*>(raw), sizeof raw).toHex().toStdString();
    plat::File f;
    err = f.Create(path, plat::Visibility::OwnerOnly);
    if (err == 0) err = f.Write(token + "\n");
    if (err == 0) err = f.Sync();
    const int closeErr = f.Close();
    if (err == 0) err = closeErr;
    if (err != 0) {
        token.clear();
        reason = "HTTP: Token-Datei " + path + " nicht anlegbar, Err=" + QString::number(err);
    }
    return err;
}

}  // namespace

int LoadOrCreateToken(const QString& path, std::string& token, QString& reason)
{
    token.clear();
    reason.clear();
    mode_t mode = 0;
    int err = plat::FileModeBits(path, mode);
    if (err == ENOENT) return CreateToken(path, token, reason);
    if (err != 0) {
        reason = "HTTP: Token-Datei " + path + " nicht lesbar, Err=" + QString::number(err);
        return err;
    }
    if ((mode & 077) != 0) {
        reason = "HTTP: Token-Datei " + path + " ist für andere lesbar (" + QString::number(mode, 8) +
                 "), die HTTP-Schnittstelle bleibt geschlossen";
        return EACCES;
    }
    std::string text;
    err = plat::ReadFileBytes(path, text);
    if (err != 0) {
        reason = "HTTP: Token-Datei " + path + " nicht lesbar, Err=" + QString::number(err);
        return err;
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    if (!IsTokenText(text)) {
        reason = "HTTP: Token-Datei " + path + " enthält kein Token (64 Hex-Ziffern), die HTTP-Schnittstelle bleibt geschlossen";
        return EINVAL;
    }
    token = text;
    return 0;
}

bool BearerMatches(const std::string& token, const std::string& authorization)
{
    static const std::string kScheme = "Bearer ";
    if (token.empty() || authorization.size() != kScheme.size() + token.size()) return false;
    volatile unsigned char diff = 0;  // no early exit the optimizer could add
    for (size_t i = 0; i < kScheme.size(); ++i) diff = diff | static_cast<unsigned char>(authorization[i] ^ kScheme[i]);
    for (size_t i = 0; i < token.size(); ++i)
        diff = diff | static_cast<unsigned char>(authorization[kScheme.size() + i] ^ token[i]);
    return diff == 0;
}
