#include "publish/WebPublish.h"

#include "base/Files.h"

#include <unistd.h>

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "product/outputs/ColourTables.h"
#include "base/PartialFile.h"
#include "product/outputs/ImageKinds.h"
#include "settings/ProgramPaths.h"

namespace {

QString Q(std::string_view s) { return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size())); }
std::string S(const QJsonValue& v) { return v.toString().toStdString(); }

TDateTime ParseIsoUtc(const std::string& text)
{
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2dZ", &y, &mo, &d, &h, &mi, &s) != 6) return 0;
    const auto date = TryEncodeDate(y, mo, d);
    const auto time = TryEncodeTime(h, mi, s, 0);
    return date && time ? *date + *time : 0;
}

std::string Lower(std::string s)
{
    for (char& c : s) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    return s;
}

std::string Extension(const std::string& file) { return Lower(std::string(FileExtension(file))); }

std::string Megabytes(double bytes)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.0f MB", bytes / (1024.0 * 1024.0));
    return buf;
}

// The page's look: readable on a phone and on a wall screen, nothing loaded from elsewhere.
constexpr const char* PageStyle = R"(
:root{color-scheme:dark;--bg:#111;--card:#1c1f24;--fg:#e8e8e8;--dim:#9aa3ad;--ok:#3fb950;--bad:#f85149}
*{box-sizing:border-box}body{margin:0;background:var(--bg);color:var(--fg);font:15px/1.4 system-ui,sans-serif}
header{display:flex;flex-wrap:wrap;gap:.3em 1.5em;align-items:baseline;padding:.6em 1em;background:#000}
h1{font-size:1.3em;margin:0}#state{font-weight:600}#state.ok{color:var(--ok)}#state.bad{color:var(--bad)}
.status{padding:.3em 1em;color:var(--dim)}.status dl{display:grid;grid-template-columns:max-content 1fr;gap:.1em 1em;margin:0}
.status dt{color:var(--dim)}.status dd{margin:0;color:var(--fg);overflow-wrap:anywhere}
main{display:grid;grid-template-columns:repeat(auto-fill,minmax(min(100%,420px),1fr));gap:1em;padding:1em}
.channel{background:var(--card);border-radius:6px;padding:.6em}.channel h2{font-size:1.05em;margin:0 0 .4em}
.channel img{display:block;width:100%;height:auto;background:#000;border-radius:3px}
.meta{display:flex;flex-wrap:wrap;gap:.2em 1em;margin:.4em 0}.age{color:var(--dim)}.none{color:var(--dim);padding:2em 0;text-align:center}
.status details{margin:.3em 0}.status summary{cursor:pointer}
.player{display:flex;flex-wrap:wrap;align-items:center;gap:.4em}.player input{flex:1;min-width:6em}
.player button,.player select{background:#2d333b;color:var(--fg);border:1px solid #444c56;border-radius:4px;padding:.2em .6em;font-size:1em}
@media (pointer:coarse){.player button,.player select{min-width:44px;min-height:44px}}
footer{padding:.5em 1em 1.5em;color:var(--dim)}
)";

// Ages are worked out by the browser, so a page read an hour after it was written still says
// how old each image is; the player steps through the day the index lists.
constexpr const char* PageScript = R"(
"use strict";
function ago(iso){const t=Date.parse(iso);if(isNaN(t))return "";const s=(Date.now()-t)/1000;
if(s<-60)return "in the future";if(s<90)return Math.max(0,Math.round(s))+" s ago";const m=s/60;
if(m<90)return Math.round(m)+" min ago";const h=m/60;if(h<48)return Math.round(h)+" h ago";return Math.round(h/24)+" days ago";}
function url(f){return f.split("/").map(encodeURIComponent).join("/");}
let playing=0;
function tick(){document.querySelectorAll("[data-t]").forEach(function(e){e.textContent=ago(e.dataset.t);});
const st=document.getElementById("state"),u=Date.parse(ORVANTA.status.updated||"");
if(st&&ORVANTA.status.closed==null&&!isNaN(u)&&Date.now()-u>180000){st.textContent="Not running? Status last written "+ago(ORVANTA.status.updated);st.className="bad";}}
function player(card,images){const img=card.querySelector("img"),time=card.querySelector("time"),
sector=card.querySelector(".sector"),age=card.querySelector(".age"),range=card.querySelector("input"),
frame=card.querySelector(".frame"),play=card.querySelector(".play"),speed=card.querySelector(".speed");let timer=0,hold=0;
range.max=images.length-1;range.value=images.length-1;
function show(i){const e=images[i];img.src=url(e.file);img.alt=e.file;time.dateTime=e.time;
time.textContent=e.time.replace("T"," ").slice(0,16)+" UTC";sector.textContent=e.sector;age.dataset.t=e.time;
age.textContent=ago(e.time);frame.textContent=(i+1)+"/"+images.length;range.value=i;}
function stop(){if(timer){clearInterval(timer);timer=0;playing--;play.textContent="\u25B6";}}
range.oninput=function(){stop();show(+range.value);};
card.querySelector(".prev").onclick=function(){stop();show(Math.max(0,+range.value-1));};
card.querySelector(".next").onclick=function(){stop();show(Math.min(images.length-1,+range.value+1));};
function step(){if(hold>0){hold--;return;}const i=+range.value+1;if(i<images.length){show(i);
if(i==images.length-1)hold=Math.round(2000/+speed.value);}else show(0);}
function run(){clearInterval(timer);timer=setInterval(step,+speed.value);}
speed.onchange=function(){if(timer)run();};
play.onclick=function(){if(timer){stop();return;}playing++;play.textContent="\u23F8";hold=0;
if(+range.value>=images.length-1)show(0);run();};
frame.textContent=images.length+"/"+images.length;}
ORVANTA.index.channels.forEach(function(c){const card=document.getElementById("ch-"+c.tag);
if(card&&card.querySelector(".player")&&c.images.length>1)player(card,c.images);
else if(card&&card.querySelector(".player"))card.querySelector(".player").hidden=true;});
tick();setInterval(tick,15000);
setInterval(function(){if(!playing)location.reload();},60000);
)";

}  // namespace

std::string IsoUtc(TDateTime t)
{
    if (t == 0) return {};
    return FormatDateTime("yyyy-mm-dd", t) + "T" + FormatDateTime("hh:nn:ss", t) + "Z";
}

std::string PlaceLatestImage(const std::string& latestDirectory, std::string_view tag, const std::string& savedFile)
{
    if (!SplitImageKind(savedFile))
        return {};
    const std::string extension = Extension(savedFile);
    if (!ForceDirectories(latestDirectory))
        return "cannot create " + latestDirectory + ": " + std::strerror(errno);
    const std::string name = std::string(tag) + extension;
    const std::string target = latestDirectory + name;
    // The station's one form of temporary, removed at its start should a kill leave it.
    const std::string temporary = PartialFileName(target);
    if (::link(savedFile.c_str(), temporary.c_str()) == 0) {
        if (::rename(temporary.c_str(), target.c_str()) == 0) return {};
        const int error = errno;
        ::unlink(temporary.c_str());
        return "cannot rename " + temporary + " to " + name + ": " + std::strerror(error);
    }
    // Another file system, or one without hard links: a copy, whole or not at all.
    if (!CopyFileAtomically(savedFile, target))
        return "cannot copy " + savedFile + " to " + target + ": " + std::strerror(errno);
    return {};
}

void TImageIndex::Load(const std::string& text)
{
    const QJsonObject root = QJsonDocument::fromJson(QByteArray::fromStdString(text)).object();
    for (const QJsonValue& c : root["channels"].toArray()) {
        const std::string tag = S(c.toObject()["tag"]);
        for (std::size_t i = 0; i < AllChannelCount; ++i) {
            if (!KnownChannel(i) || ChannelInfo(i).ChannelTag != tag)
                continue;
            for (const QJsonValue& v : c.toObject()["images"].toArray()) {
                const QJsonObject e = v.toObject();
                const TDateTime time = ParseIsoUtc(S(e["time"]));
                std::vector<std::string> kinds;
                for (const QJsonValue& k : e["kinds"].toArray())
                    if (k.isString()) kinds.push_back(S(k));
                if (time != 0 && e["file"].isString()) Add(i, S(e["file"]), time, S(e["sector"]), std::move(kinds));
            }
        }
    }
}

void TImageIndex::Add(std::size_t channel, std::string file, TDateTime time, std::string sector,
                      std::vector<std::string> kinds)
{
    if (!KnownChannel(channel))
        return;
    auto& list = channels_[channel];
    std::erase_if(list, [&](const TEntry& e) { return e.File == file; });
    const auto at = std::upper_bound(list.begin(), list.end(), time, [](TDateTime t, const TEntry& e) { return t < e.Time; });
    list.insert(at, TEntry{std::move(file), time, std::move(sector), std::move(kinds)});
    // The day before the channel's newest scan: a replayed archive keeps its own day.
    const TDateTime oldest = list.back().Time - KeptDays;
    std::erase_if(list, [&](const TEntry& e) { return e.Time < oldest - 1e-9; });
}

QJsonObject TImageIndex::ToJson(TDateTime written) const
{
    QJsonArray channels;
    for (std::size_t i = 0; i < AllChannelCount; ++i) {
        // A GOES-15 channel's card says when it has no image yet; of the ABI's many bands
        // only those received get one.
        if (!ChannelExists(i) && (!IsAbiChannel(i) || channels_[i].empty()))
            continue;
        QJsonArray images;
        for (const TEntry& e : channels_[i]) {
            QJsonArray kinds;
            for (const std::string& k : e.Kinds) kinds.append(Q(k));
            images.append(QJsonObject{{"file", Q(e.File)}, {"time", Q(IsoUtc(e.Time))}, {"sector", Q(e.Sector)}, {"kinds", kinds}});
        }
        const TChannelInfo& info = ChannelInfo(i);
        channels.append(QJsonObject{{"tag", Q(info.ChannelTag)},
                                    {"band", Q(info.ChannelDigit)},
                                    {"description", Q(info.ChannelDescription)},
                                    {"images", images}});
    }
    return QJsonObject{{"written", Q(IsoUtc(written))}, {"channels", channels}};
}

std::string HtmlEscaped(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&#39;"; break;
        default: out += c;
        }
    }
    return out;
}

std::string JsonForScript(const QJsonObject& json)
{
    const std::string text = QJsonDocument(json).toJson(QJsonDocument::Compact).toStdString();
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        // Outside strings JSON has none of these, so escaping them everywhere changes no value.
        if (c == '<') out += "\\u003c";
        else if (c == '>') out += "\\u003e";
        else if (c == '&') out += "\\u0026";
        else if (c == '\xE2' && i + 2 < text.size() && text[i + 1] == '\x80' && (text[i + 2] == '\xA8' || text[i + 2] == '\xA9')) {
            out += text[i + 2] == '\xA8' ? "\\u2028" : "\\u2029";
            i += 2;
        } else out += c;
    }
    return out;
}

std::string UrlPath(std::string_view path)
{
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (const char ch : path) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.'
            || c == '~' || c == '/')
            out += ch;
        else {
            out += '%';
            out += hex[c >> 4];
            out += hex[c & 15];
        }
    }
    return out;
}

std::string WebPageHtml(const QJsonObject& index, const QJsonObject& status, TDateTime written)
{
    std::string h;
    h.reserve(16384);
    h += "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
         "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
         "<title>Orvanta station</title>\n<noscript><meta http-equiv=\"refresh\" content=\"60\"></noscript>\n<style>";
    h += PageStyle;
    h += "</style></head><body>\n<header><h1>Orvanta</h1>";

    const bool closed = status["closed"].isString();
    const bool halted = status["not_processing"].isString();
    const bool processing = status["processing"].toBool() && !halted;
    const std::string state = closed ? "Not running (ended " + S(status["closed"]).substr(0, 16) + ")"
                              : processing ? "Running, processing"
                              : halted     ? "Running, but not processing (see Directories)"
                                           : "Running, processing stopped";
    h += "<span id=\"state\" class=\"" + std::string(!closed && processing ? "ok" : "bad") + "\">" + HtmlEscaped(state)
         + "</span></header>\n<section class=\"status\"><dl>\n";
    const auto row = [&h](const std::string& term, const std::string& html) {
        h += "<dt>" + HtmlEscaped(term) + "</dt><dd>" + html + "</dd>\n";
    };
    const auto timeHtml = [](const std::string& iso) {
        if (iso.empty()) return std::string("none");
        return "<time datetime=\"" + HtmlEscaped(iso) + "\">" + HtmlEscaped(iso.substr(0, 10) + " " + iso.substr(11, 8))
               + " UTC</time> <span class=\"age\" data-t=\"" + HtmlEscaped(iso) + "\"></span>";
    };
    // The newest image, not the last file handled: a file that failed makes no image.
    std::string newestImage;
    for (const QJsonValue& v : status["channels"].toArray())
        if (v.toObject()["file"].isString()) newestImage = std::max(newestImage, S(v.toObject()["time"]));
    row("Newest image", timeHtml(newestImage));
    const QJsonObject today = status["today"].toObject();
    const QJsonObject since = status["since_start"].toObject();
    row("Today", std::to_string(today["processed"].toInt()) + " processed, " + std::to_string(today["failed"].toInt())
                     + " failed (since start " + std::to_string(since["failed"].toInt()) + " failed)");
    if (const QJsonObject f = status["last_failure"].toObject(); !f.isEmpty())
        row("Last failure", timeHtml(S(f["time"])) + " " + HtmlEscaped(ExtractFileName(S(f["file"]))));
    const QJsonObject incoming = status["incoming"].toObject();
    const int waiting = incoming["waiting"].toInt();
    row("Backlog", std::to_string(waiting) + (waiting == 1 ? " file waiting" : " files waiting"));
    const QJsonObject disk = status["disk"].toObject();
    // A public page keeps the station's directory layout to those who open it.
    std::string free, directories = "<dt>Incoming</dt><dd>" + HtmlEscaped(S(incoming["directory"])) + "</dd>\n";
    double least = -1;
    for (const QJsonValue& v : disk["directories"].toArray()) {
        const QJsonObject d = v.toObject();
        const bool known = d["free_bytes"].isDouble();
        if (known && (least < 0 || d["free_bytes"].toDouble() < least)) least = d["free_bytes"].toDouble();
        directories += "<dt>Written</dt><dd>" + HtmlEscaped(S(d["directory"])) + " "
                       + (known ? Megabytes(d["free_bytes"].toDouble()) : "unknown") + " free</dd>\n";
    }
    free = least >= 0 ? Megabytes(least) + " on the fullest disk" : "";
    if (disk["low"].isString()) free += "<br><strong>Disk low: nothing is processed</strong>";
    // A reason may name where the file was put aside.
    if (const QJsonObject f = status["last_failure"].toObject(); !f.isEmpty())
        directories = "<dt>Last failure</dt><dd>" + HtmlEscaped(S(f["reason"])) + "</dd>\n" + directories;
    if (status["not_processing"].isString())
        directories = "<dt>Not processing</dt><dd>" + HtmlEscaped(S(status["not_processing"])) + "</dd>\n" + directories;
    row("Free disk", free.empty() ? "unknown" : free);
    h += "</dl>\n<details><summary>Directories</summary><dl>\n" + directories + "</dl></details></section>\n<main>\n";

    for (const QJsonValue& cv : index["channels"].toArray()) {
        const QJsonObject c = cv.toObject();
        const std::string tag = S(c["tag"]);
        const QJsonArray images = c["images"].toArray();
        h += "<article class=\"channel\" id=\"ch-" + HtmlEscaped(tag) + "\"><h2>Band " + HtmlEscaped(S(c["band"])) + " &middot; "
             + HtmlEscaped(S(c["description"])) + "</h2>\n";
        if (images.isEmpty()) {
            h += "<p class=\"none\">No image yet</p></article>\n";
            continue;
        }
        const QJsonObject newest = images.last().toObject();
        const std::string latest =
            "latest/" + tag + (IsColourImageName(S(newest["file"])) ? ColourImageSuffix : "") + Extension(S(newest["file"]));
        const std::string iso = S(newest["time"]);
        h += "<a href=\"" + HtmlEscaped(UrlPath(latest)) + "\"><img src=\"" + HtmlEscaped(UrlPath(latest)) + "\" alt=\""
             + HtmlEscaped(S(newest["file"])) + "\"></a>\n<p class=\"meta\"><time datetime=\"" + HtmlEscaped(iso) + "\">"
             + HtmlEscaped(iso.substr(0, 10) + " " + iso.substr(11, 5)) + " UTC</time><span class=\"sector\">"
             + HtmlEscaped(S(newest["sector"])) + "</span><span class=\"age\" data-t=\"" + HtmlEscaped(iso)
             + "\"></span></p>\n<div class=\"player\"><button class=\"prev\" title=\"Earlier\">&#8249;</button>"
               "<button class=\"play\" title=\"Play the last 24 hours\">&#9654;</button>"
               "<button class=\"next\" title=\"Later\">&#8250;</button><input type=\"range\" min=\"0\" value=\"0\">"
               "<span class=\"frame\"></span><select class=\"speed\" title=\"Speed\"><option value=\"800\">slow</option>"
               "<option value=\"400\" selected>normal</option><option value=\"150\">fast</option></select></div></article>\n";
    }
    h += "</main>\n<footer>Page written <time datetime=\"" + IsoUtc(written) + "\">" + HtmlEscaped(IsoUtc(written))
         + "</time> <span class=\"age\" data-t=\"" + IsoUtc(written) + "\"></span>; it reloads every minute.</footer>\n<script>\nconst ORVANTA={\"index\":";
    h += JsonForScript(index);
    h += ",\"status\":";
    // Only what the script reads: the whole status would give the directories away again.
    h += JsonForScript(QJsonObject{{"updated", status["updated"]}, {"closed", status["closed"]}});
    h += "};\n";
    h += PageScript;
    h += "</script>\n</body></html>\n";
    return h;
}
