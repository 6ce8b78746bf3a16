// Text bound for the program log and the window's list of operations.
//
// Names and values come from the share, where any register may write: a
// control character among them could start a line of its own in the log (a
// line break), hide what stands before it (a lone CR in a viewer) or cut the
// line (NUL). Each such character is written visibly as its code in angle
// brackets, e.g. "<0D>", so nothing a register sends can pose as a line of
// the service.
#pragma once

#include <QString>
#include <string>

namespace plat {

// C0 controls (0x00-0x1F), DEL and the C1 controls (0x80-0x9F, NEL among them)
// become "<XX>" with two upper-case hex digits; the line and paragraph
// separators U+2028 and U+2029, which a list entry breaks at, become "<2028>"
// and "<2029>". Everything else is kept.
QString VisibleControls(const QString& text);

// The same for a line already in the log's code page (Windows-1252), where
// the bytes 0x80-0x9F are printable characters and are kept.
std::string VisibleControlBytes(const std::string& bytes);

}  // namespace plat
