#include "libkestrel/profile/Profile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <utility>

#include "libkestrel/framework/FileIo.h"
#include "libkestrel/framework/UniqueFd.h"

namespace kestrel::profile {
namespace {

// One line of an INI file, kept as written so that rewriting a file keeps
// comments, order and spacing of every line that is not changed.
struct Line {
    enum class Kind { Other, Section, Key };
    Kind kind = Kind::Other;
    std::string text;            // without the line end
    std::string ending;          // "\n", "\r\n", or "" for a last line without one
    std::string name;            // section or key name, trimmed
    std::size_t valueStart = 0;  // for keys: offset of the byte after '='
};

struct Document {
    std::vector<Line> lines;
    bool crlf = false;  // the first line's ending, given to new lines
    bool exists = false;
};

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && IsBlank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

// Names compare without case for ASCII letters only; bytes 0x80-0xFF compare
// exactly so that no locale can change which key a name finds.
char Lower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameName(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) {
            return false;
        }
    }
    return true;
}

Line ParseLine(std::string text)
{
    Line line;
    const std::string_view trimmed = Trim(text);
    if (!trimmed.empty() && trimmed.front() == '[') {
        const auto close = trimmed.find(']');
        if (close != std::string_view::npos) {
            line.kind = Line::Kind::Section;
            line.name = std::string(Trim(trimmed.substr(1, close - 1)));
        }
    } else if (!trimmed.empty() && trimmed.front() != ';') {
        const auto eq = text.find('=');
        if (eq != std::string::npos) {
            line.kind = Line::Kind::Key;
            line.name = std::string(Trim(std::string_view(text).substr(0, eq)));
            line.valueStart = eq + 1;
        }
    }
    line.text = std::move(text);
    return line;
}

// A stored value: blanks around it are not part of it, and one pair of
// surrounding double quotes is removed (which is how values with their own
// edge blanks or quotes are written).
std::string ValueOf(const Line& line)
{
    std::string_view v = Trim(std::string_view(line.text).substr(line.valueStart));
    if (v.size() >= 2 && v.front() == '"' && v.back() == '"') {
        v = v.substr(1, v.size() - 2);
    }
    return std::string(v);
}

std::string EncodeValue(std::string_view value)
{
    const bool needsQuotes = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()) ||
                                                (value.size() >= 2 && value.front() == '"' && value.back() == '"'));
    if (needsQuotes) {
        return "\"" + std::string(value) + "\"";
    }
    return std::string(value);
}

// Reads the whole file; a missing file is an empty document.
bool Load(const std::string& file, Document& doc)
{
    doc = Document{};
    std::optional<std::string> contents = ReadWholeFile(file);
    if (!contents) {
        return errno == ENOENT;
    }
    const std::string& data = *contents;
    doc.exists = true;
    // Every line keeps its own ending, so a rewrite gives back the bytes of
    // the lines it does not change, whatever mix of endings the file has.
    std::size_t pos = 0;
    while (pos < data.size()) {
        auto end = data.find('\n', pos);
        std::string ending = "\n";
        if (end == std::string::npos) {
            end = data.size();
            ending.clear();
        }
        std::string text = data.substr(pos, end - pos);
        if (!ending.empty() && !text.empty() && text.back() == '\r') {
            text.pop_back();
            ending = "\r\n";
        }
        if (doc.lines.empty()) {
            doc.crlf = ending == "\r\n";
        }
        Line line = ParseLine(std::move(text));
        line.ending = std::move(ending);
        doc.lines.push_back(std::move(line));
        pos = end + 1;
    }
    return true;
}

std::string Serialise(const Document& doc)
{
    std::string out;
    for (const Line& line : doc.lines) {
        out += line.text;
        out += line.ending;
    }
    return out;
}

// A new line of `doc`, ended as the file's lines are; a last line without an
// ending gets one first so the new line does not join it.
Line NewLine(Document& doc, std::string text)
{
    const char* eol = doc.crlf ? "\r\n" : "\n";
    for (Line& line : doc.lines) {
        if (line.ending.empty()) {
            line.ending = eol;
        }
    }
    Line line = ParseLine(std::move(text));
    line.ending = eol;
    return line;
}

// Index range [begin, end) of the body of the first section named `section`;
// begin is the header line's index. nullopt when absent.
std::optional<std::pair<std::size_t, std::size_t>> FindSection(const Document& doc, std::string_view section)
{
    section = Trim(section);  // names are stored trimmed
    for (std::size_t i = 0; i < doc.lines.size(); ++i) {
        if (doc.lines[i].kind == Line::Kind::Section && SameName(doc.lines[i].name, section)) {
            std::size_t end = i + 1;
            while (end < doc.lines.size() && doc.lines[end].kind != Line::Kind::Section) {
                ++end;
            }
            return std::make_pair(i, end);
        }
    }
    return std::nullopt;
}

std::optional<std::size_t> FindKey(const Document& doc, std::pair<std::size_t, std::size_t> range, std::string_view key)
{
    key = Trim(key);  // names are stored trimmed
    for (std::size_t i = range.first + 1; i < range.second; ++i) {
        if (doc.lines[i].kind == Line::Kind::Key && SameName(doc.lines[i].name, key)) {
            return i;
        }
    }
    return std::nullopt;
}

// Holds an exclusive flock on "<file>.lock" for the life of the object; every
// writer of the file takes it before reading the current contents.
class WriteLock {
public:
    explicit WriteLock(const std::string& file)
        : fd_(::open((file + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644))
    {
        while (fd_ && ::flock(fd_.Get(), LOCK_EX) != 0) {
            if (errno != EINTR) {
                fd_.Reset();
            }
        }
    }
    WriteLock(const WriteLock&) = delete;
    WriteLock& operator=(const WriteLock&) = delete;

    [[nodiscard]] bool Held() const { return fd_.Valid(); }

private:
    UniqueFd fd_;  // closing it releases the lock
};

bool HasLineBreak(std::string_view s)
{
    return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

bool ValidSection(std::string_view section)
{
    return !HasLineBreak(section) && section.find(']') == std::string_view::npos;
}

bool ValidKey(std::string_view key)
{
    const std::string_view t = Trim(key);
    return !HasLineBreak(key) && key.find('=') == std::string_view::npos && !t.empty() && t.front() != '[' &&
           t.front() != ';';
}

// Applies `change` to the current contents under the lock and stores the
// result unless nothing changed.
template <typename Change>
bool Modify(const std::string& file, Change change)
{
    WriteLock lock(file);
    if (!lock.Held()) {
        return false;
    }
    Document doc;
    if (!Load(file, doc)) {
        return false;
    }
    const std::string before = Serialise(doc);
    const bool existed = doc.exists;
    change(doc);
    const std::string after = Serialise(doc);
    if (existed ? after == before : doc.lines.empty()) {
        return true;
    }
    return AtomicWriteFile(file, after, Durability::kSynced);
}

}  // namespace

std::optional<std::string> Read(const std::string& file, std::string_view section, std::string_view key)
{
    Document doc;
    if (!Load(file, doc)) {
        return std::nullopt;
    }
    const auto range = FindSection(doc, section);
    if (!range) {
        return std::nullopt;
    }
    const auto index = FindKey(doc, *range, key);
    if (!index) {
        return std::nullopt;
    }
    return ValueOf(doc.lines[*index]);
}

std::string GetString(const std::string& file, std::string_view section, std::string_view key,
                      std::string_view fallback, std::size_t maxLength)
{
    std::string value = Read(file, section, key).value_or(std::string(fallback));
    if (value.size() > maxLength) {
        value.resize(maxLength);
    }
    return value;
}

int GetInt(const std::string& file, std::string_view section, std::string_view key, int fallback)
{
    const auto value = Read(file, section, key);
    if (!value) {
        return fallback;
    }
    std::string_view v = Trim(*value);
    bool negative = false;
    if (!v.empty() && (v.front() == '+' || v.front() == '-')) {
        negative = v.front() == '-';
        v.remove_prefix(1);
    }
    long long result = 0;
    for (const char c : v) {
        if (c < '0' || c > '9') {
            break;
        }
        // Saturate instead of overflowing on absurdly long digit runs.
        if (result <= static_cast<long long>(INT_MAX) + 1) {
            result = result * 10 + (c - '0');
        }
    }
    if (negative) {
        result = -result;
    }
    if (result > INT_MAX) {
        return INT_MAX;
    }
    if (result < INT_MIN) {
        return INT_MIN;
    }
    return static_cast<int>(result);
}

bool WriteString(const std::string& file, std::string_view section, std::string_view key, std::string_view value)
{
    if (!ValidSection(section) || !ValidKey(key) || HasLineBreak(value)) {
        errno = EINVAL;
        return false;
    }
    return Modify(file, [&](Document& doc) {
        const std::string keyName(Trim(key));
        std::string text = keyName + "=" + EncodeValue(value);
        const auto range = FindSection(doc, section);
        if (!range) {
            if (!doc.lines.empty() && !Trim(doc.lines.back().text).empty()) {
                doc.lines.push_back(NewLine(doc, ""));
            }
            doc.lines.push_back(NewLine(doc, "[" + std::string(section) + "]"));
            doc.lines.push_back(NewLine(doc, std::move(text)));
            return;
        }
        if (const auto index = FindKey(doc, *range, key)) {
            // The key keeps the spelling it already has in the file.
            if (ValueOf(doc.lines[*index]) != value) {
                Line& line = doc.lines[*index];
                std::string ending = std::move(line.ending);
                line = ParseLine(line.name + "=" + EncodeValue(value));
                line.ending = std::move(ending);
            }
            return;
        }
        // After the section's last non-blank line, so blank separators stay
        // between sections.
        std::size_t at = range->second;
        while (at > range->first + 1 && Trim(doc.lines[at - 1].text).empty()) {
            --at;
        }
        Line line = NewLine(doc, std::move(text));
        doc.lines.insert(doc.lines.begin() + static_cast<std::ptrdiff_t>(at), std::move(line));
    });
}

bool WriteInt(const std::string& file, std::string_view section, std::string_view key, int value)
{
    return WriteString(file, section, key, std::to_string(value));
}

bool DeleteKey(const std::string& file, std::string_view section, std::string_view key)
{
    return Modify(file, [&](Document& doc) {
        const auto range = FindSection(doc, section);
        if (!range) {
            return;
        }
        if (const auto index = FindKey(doc, *range, key)) {
            doc.lines.erase(doc.lines.begin() + static_cast<std::ptrdiff_t>(*index));
        }
    });
}

bool DeleteSection(const std::string& file, std::string_view section)
{
    return Modify(file, [&](Document& doc) {
        const auto range = FindSection(doc, section);
        if (!range) {
            return;
        }
        doc.lines.erase(doc.lines.begin() + static_cast<std::ptrdiff_t>(range->first),
                        doc.lines.begin() + static_cast<std::ptrdiff_t>(range->second));
    });
}

std::vector<std::string> KeyNames(const std::string& file, std::string_view section)
{
    std::vector<std::string> names;
    Document doc;
    if (!Load(file, doc)) {
        return names;
    }
    if (const auto range = FindSection(doc, section)) {
        for (std::size_t i = range->first + 1; i < range->second; ++i) {
            if (doc.lines[i].kind == Line::Kind::Key) {
                names.push_back(doc.lines[i].name);
            }
        }
    }
    return names;
}

std::vector<std::string> SectionNames(const std::string& file)
{
    std::vector<std::string> names;
    Document doc;
    if (!Load(file, doc)) {
        return names;
    }
    for (const Line& line : doc.lines) {
        if (line.kind == Line::Kind::Section) {
            names.push_back(line.name);
        }
    }
    return names;
}

}  // namespace kestrel::profile
