// The text of one mail, built apart from any connection: the MIME parts,
// the picture encoding, the header lines and the names of the pictures.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace vorlix {

// Standard base64 (RFC 2045 alphabet, "=" padding), without line breaks.
std::string Base64Encode(std::string_view bytes);
// "\r\n" after every 72nd character, none after a shorter last line.
std::string SplitLines(std::string_view text);

// The boundary for a C library rand() value r: "-----" and the lower-case
// hexadecimal of the 32-bit product (r + 1) * 0x50F384B8.
std::string BoundaryFromRand(int r);

// "Date: Sat, 05 Dec 2026 10:00:00 +0100\r\n" for the local time of `t`
// (English day and month names whatever the locale).
std::string DateHeader(std::time_t t);
// "FROM: ", "TO: ", "CC: ", "Subject: " lines, each with its CR LF.
std::string FromHeader(std::string_view from);
std::string ToHeader(std::string_view to);
std::string CcHeader(std::string_view cc);
std::string SubjectHeader(std::string_view subject);
// MIME-Version and the multipart Content-Type, then the blank line.
std::string MimeHeader(std::string_view boundary);
// The preamble and the first text part with the history text (ISO-8859-1).
std::string FirstTextPart(std::string_view boundary, std::string_view history);
// One picture part around its split base64 text.
std::string PicturePart(std::string_view boundary, std::string_view name, std::string_view splitBase64);
// A further text/plain part.
std::string TextPart(std::string_view boundary, std::string_view text);
// "--" boundary "--" CR LF.
std::string ClosingBoundary(std::string_view boundary);
// What ends the data of a message.
inline constexpr std::string_view kDataEnd = "\r\n.\r\n";

// The note sent when the attachments passed "SizeMax".
std::string SizeMaxNote(int next, int shots);
// The events-window lines of a pass.
std::string SummaryLine(std::string_view host, std::string_view to, std::string_view subject);
std::string FailureLine(std::string_view reason);

// The recipients of a pass: "To", then "CC", split at ";" with empty pieces
// skipped, in order.
std::vector<std::string> Recipients(std::string_view to, std::string_view cc);
// The address alone for the envelope: the text between "<" and ">" when
// there is such a pair, else the text without surrounding blanks.
std::string EnvelopeAddress(std::string_view address);

// Picture number i of a ring of `maxJpg` slots: "vorlix_<i mod maxJpg>.jpg".
std::string PictureName(int i, int maxJpg);
inline constexpr std::string_view kLastPictureName = "last.jpg";
// `directory` + "/" + `name`.
std::string PicturePath(std::string_view directory, std::string_view name);

// Dot-stuffing of the message data: a "." that begins a line is doubled, so
// no line of the text can end the data early. Keeps the line state between
// pieces of one message.
class DotStuffer {
public:
    std::string Stuff(std::string_view piece);

private:
    bool atLineStart_ = true;
};

}  // namespace vorlix
