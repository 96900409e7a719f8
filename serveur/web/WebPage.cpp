#include "serveur/web/WebPage.h"

#include <charconv>
#include <cstdio>
#include <map>
#include <memory>
#include <set>

namespace vorlix::web {

namespace {

constexpr std::string_view kTexts[] = {
    "Capturing",
    "Not capturing",
    "Detection on",
    "Detection off",
    "Web viewers",
    "Stream viewers",
    "Last detection",
    "none yet",
    "Vorlix camera",
    "Protected by the camera's password.",
    "No password is set: this camera is open to anyone who can reach the port.",
    "Live picture",
    "Snapshot",
    "pictures per second",
    "Last detection pictures",
};

constexpr std::string_view kPicturePrefix = "/pictures/";
constexpr std::string_view kPictureSuffix = ".jpg";

// The state in translated lines, as the page lists it.
std::vector<std::string> StateLines(const PageState& s, const Words& words)
{
    std::vector<std::string> lines;
    lines.push_back(words(s.capturing ? "Capturing" : "Not capturing"));
    lines.push_back(words(s.detectionOn ? "Detection on" : "Detection off"));
    lines.push_back(words("Web viewers") + ": " + std::to_string(s.webViewers) + ", " + words("Stream viewers") + ": " +
                    std::to_string(s.streamViewers));
    if (s.events.empty()) {
        lines.push_back(words("Last detection") + ": " + words("none yet"));
    } else {
        const WebEvent& last = s.events.front();
        lines.push_back(words("Last detection") + ": " + LocalTimeText(last.time) + " " + last.label);
    }
    return lines;
}

// The newest event of each picture number: an older event's picture has
// been written over by the newer one.
std::vector<const WebEvent*> Thumbnails(const PageState& s)
{
    std::vector<const WebEvent*> shown;
    std::set<int> seen;
    for (const WebEvent& e : s.events) {
        if (shown.size() == kThumbnails) {
            break;
        }
        if (seen.insert(e.picture).second) {
            shown.push_back(&e);
        }
    }
    return shown;
}

std::string PictureHref(const WebEvent& e)
{
    // The time keeps a browser from showing an older picture of the same slot.
    return "pictures/" + std::to_string(e.picture) + ".jpg?t=" + std::to_string(static_cast<long long>(e.time));
}

constexpr std::string_view kStyle = R"(
body{font-family:sans-serif;margin:0;background:#1d2125;color:#e8e8e8}
header{padding:.6em 1em;background:#2b3036;display:flex;gap:1em;align-items:baseline;flex-wrap:wrap}
h1{font-size:1.3em;margin:0}h2{font-size:1.05em;margin:.8em 0 .4em}
main{padding:1em;display:flex;gap:1.5em;flex-wrap:wrap}
#live{width:640px;max-width:100%;min-height:120px;background:#000;border:1px solid #444;display:block}
#state{list-style:none;padding:0;margin:.4em 0}#state li{margin:.2em 0}
.access{padding:.5em .8em;border-radius:4px}.open{background:#6b2b2b}.closed{background:#2b4d2b}
#thumbs{display:grid;grid-template-columns:repeat(auto-fill,minmax(160px,1fr));gap:.6em;min-width:340px;max-width:700px}
#thumbs a{color:#cfd8e0;text-decoration:none;font-size:.8em}#thumbs img{width:100%;display:block;border:1px solid #444}
a{color:#9cc7ff}
)";

constexpr std::string_view kScript = R"(
function item(t){const e=document.createElement('li');e.textContent=t;return e;}
function thumb(p){const a=document.createElement('a');a.href=p.href;a.target='_blank';
const i=document.createElement('img');i.src=p.href;i.alt=p.label;const c=document.createElement('div');
c.textContent=p.when+' '+p.label;a.append(i,c);return a;}
function refresh(){fetch('events.json',{cache:'no-store'}).then(r=>r.json()).then(d=>{
document.getElementById('state').replaceChildren(...d.state.lines.map(item));
document.getElementById('thumbs').replaceChildren(...d.thumbnails.map(thumb));}).catch(()=>{});}
setInterval(refresh,5000);
)";

void AppendThumbnail(std::string& html, const WebEvent& e)
{
    const std::string href = HtmlEscape(PictureHref(e));
    html += "<a href=\"" + href + "\" target=\"_blank\"><img src=\"" + href + "\" alt=\"" + HtmlEscape(e.label) +
            "\"><div>" + HtmlEscape(LocalTimeText(e.time)) + " " + HtmlEscape(e.label) + "</div></a>";
}

}  // namespace

Words FixedWords(const Words& translate)
{
    auto table = std::make_shared<std::map<std::string, std::string, std::less<>>>();
    for (const std::string_view text : kTexts) {
        std::string translated = translate ? translate(text) : std::string();
        if (translated.empty()) {
            translated = text;
        }
        table->emplace(std::string(text), std::move(translated));
    }
    return [table](std::string_view text) {
        const auto found = table->find(text);
        return found != table->end() ? found->second : std::string(text);
    };
}

std::string HtmlEscape(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&#39;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string JsonEscape(std::string_view text)
{
    std::string out;
    out.reserve(text.size() + 2);
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || c == '<' || c == '>' || c == '&') {
            // Control bytes, and what a page might read as markup.
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", u);
            out += buf;
        } else {
            out += c;
        }
    }
    return out;
}

std::string LocalTimeText(std::time_t time)
{
    std::tm parts{};
    if (localtime_r(&time, &parts) == nullptr) {
        return {};
    }
    char buf[32];
    const std::size_t n = std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &parts);
    return {buf, n};
}

std::optional<int> PictureNumberOf(std::string_view url, int maxJpg)
{
    if (!url.starts_with(kPicturePrefix) || !url.ends_with(kPictureSuffix)) {
        return std::nullopt;
    }
    const std::string_view digits =
        url.substr(kPicturePrefix.size(), url.size() - kPicturePrefix.size() - kPictureSuffix.size());
    if (digits.empty() || digits.size() > 9 || (digits.size() > 1 && digits.front() == '0')) {
        return std::nullopt;
    }
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
    }
    int n = -1;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), n);
    if (ec != std::errc{} || end != digits.data() + digits.size() || n < 0 || n >= maxJpg) {
        return std::nullopt;
    }
    return n;
}

std::string MjpegPartHead(std::size_t length)
{
    return "--" + std::string(kMjpegBoundary) +
           "\r\nContent-Type: image/jpeg\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n";
}

std::string RenderPage(const PageState& state, const Words& words)
{
    const std::string title = words("Vorlix camera") + " " + std::to_string(state.camera);
    std::string html;
    html.reserve(8192);
    html +=
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
        "<meta name=\"viewport\" content=\"width=device-width,initial-scale=1\"><title>";
    html += HtmlEscape(title);
    html += "</title><style>";
    html += kStyle;
    html += "</style></head><body><header><h1>" + HtmlEscape(title) + "</h1>";
    if (state.passwordSet) {
        html += "<span class=\"access closed\">" + HtmlEscape(words("Protected by the camera's password.")) + "</span>";
    } else {
        html += "<span class=\"access open\">" +
                HtmlEscape(words("No password is set: this camera is open to anyone who can reach the port.")) +
                "</span>";
    }
    html += "</header><main><section><h2>" + HtmlEscape(words("Live picture")) + "</h2>";
    html += "<img id=\"live\" src=\"live.mjpg\" alt=\"" + HtmlEscape(words("Live picture")) + "\">";
    html += "<p><a href=\"snapshot.jpg\" target=\"_blank\">" + HtmlEscape(words("Snapshot")) + "</a> &middot; " +
            std::to_string(state.fps) + " " + HtmlEscape(words("pictures per second")) + "</p>";
    html += "<ul id=\"state\">";
    for (const std::string& line : StateLines(state, words)) {
        html += "<li>" + HtmlEscape(line) + "</li>";
    }
    html += "</ul></section><section><h2>" + HtmlEscape(words("Last detection pictures")) + "</h2><div id=\"thumbs\">";
    for (const WebEvent* e : Thumbnails(state)) {
        AppendThumbnail(html, *e);
    }
    html += "</div></section></main><script>";
    html += kScript;
    html += "</script></body></html>\n";
    return html;
}

std::string EventsJson(const PageState& state, const Words& words)
{
    std::string json = "{\"camera\":" + std::to_string(state.camera) + ",\"state\":{\"capturing\":";
    json += state.capturing ? "true" : "false";
    json += ",\"detection\":";
    json += state.detectionOn ? "true" : "false";
    json += ",\"webViewers\":" + std::to_string(state.webViewers);
    json += ",\"streamViewers\":" + std::to_string(state.streamViewers);
    json += ",\"password\":";
    json += state.passwordSet ? "true" : "false";
    json += ",\"lines\":[";
    const std::vector<std::string> lines = StateLines(state, words);
    for (std::size_t i = 0; i < lines.size(); ++i) {
        json += (i == 0 ? "\"" : ",\"") + JsonEscape(lines[i]) + "\"";
    }
    json += "]},\"events\":[";
    bool first = true;
    for (const WebEvent& e : state.events) {
        json += first ? "{" : ",{";
        first = false;
        json += "\"time\":" + std::to_string(static_cast<long long>(e.time)) + ",\"when\":\"" +
                JsonEscape(LocalTimeText(e.time)) + "\",\"label\":\"" + JsonEscape(e.label) +
                "\",\"picture\":" + std::to_string(e.picture) + "}";
    }
    json += "],\"thumbnails\":[";
    first = true;
    for (const WebEvent* e : Thumbnails(state)) {
        json += first ? "{" : ",{";
        first = false;
        json += "\"href\":\"" + JsonEscape(PictureHref(*e)) + "\",\"when\":\"" + JsonEscape(LocalTimeText(e->time)) +
                "\",\"label\":\"" + JsonEscape(e->label) + "\"}";
    }
    json += "]}\n";
    return json;
}

}  // namespace vorlix::web
