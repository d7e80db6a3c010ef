// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/publish/PublishUrl.h"

#include <algorithm>
#include <cctype>

namespace publish {

namespace {

constexpr std::string_view kInfluxScheme = "influx://";

bool startsWithNoCase(std::string_view text, std::string_view start)
{
    return text.size() >= start.size() && std::equal(start.begin(), start.end(), text.begin(), [](char lower, char c) {
               return std::tolower(static_cast<unsigned char>(c)) == lower;
           });
}

std::string percentEncoded(std::string_view text)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (std::isalnum(c) || c == '-' || c == '_' || c == '.' || c == '~') {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        }
    }
    return out;
}

std::optional<std::string> percentDecoded(std::string_view text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size() || !std::isxdigit(static_cast<unsigned char>(text[i + 1]))
            || !std::isxdigit(static_cast<unsigned char>(text[i + 2])))
            return std::nullopt;
        out.push_back(static_cast<char>(std::stoi(std::string(text.substr(i + 1, 2)), nullptr, 16)));
        i += 2;
    }
    return out;
}

std::string httpBase(const Server& server)
{
    return "http://" + server.endpoint();
}

} // namespace

std::string InfluxUrl::where() const
{
    return server.endpoint() + "/" + database;
}

std::string InfluxUrl::writeUrl() const
{
    return httpBase(server) + "/write?db=" + percentEncoded(database) + "&precision=u";
}

std::string InfluxUrl::queryUrl() const
{
    return httpBase(server) + "/query?db=" + percentEncoded(database) + "&epoch=u";
}

std::optional<InfluxUrl> parseInfluxUrl(std::string_view url, std::string& error)
{
    auto fail = [&](std::string_view why) {
        error = "Bad InfluxDB URL " + shownUrl(url) + ": " + std::string(why);
        return std::nullopt;
    };
    if (!startsWithNoCase(url, kInfluxScheme)) return fail("it must start with influx://");
    std::string_view rest = url.substr(kInfluxScheme.size());
    const auto slash = rest.find('/');
    std::string why;
    std::optional<Server> server = parseServer(rest.substr(0, slash), 8086, why);
    if (!server) return fail(why);
    std::string_view path = slash == std::string_view::npos ? std::string_view{} : rest.substr(slash + 1);
    if (!path.empty() && path.back() == '/') path.remove_suffix(1);
    if (path.empty()) return fail("it needs a database after the host, as in influx://influxdb.lan:8086/plant");
    if (path.find_first_of("/?#") != std::string_view::npos)
        return fail("the database is one name, without \"/\", \"?\" or \"#\"");
    std::optional<std::string> database = percentDecoded(path);
    if (!database) return fail("bad percent escape in the database name");
    InfluxUrl result;
    result.server = std::move(*server);
    result.database = std::move(*database);
    return result;
}

std::optional<PublishUrl> parsePublishUrl(std::string_view url, std::string& error)
{
    PublishUrl result;
    if (startsWithNoCase(url, kInfluxScheme)) {
        if (!(result.influx = parseInfluxUrl(url, error))) return std::nullopt;
        return result;
    }
    if (!(result.mqtt = parseBrokerUrl(url, error))) {
        if (url.find("://") == std::string_view::npos || !startsWithNoCase(url, "mqtt"))
            error = "Bad --publish URL " + shownUrl(url) + ": it must start with mqtt:// or influx://";
        return std::nullopt;
    }
    return result;
}

} // namespace publish
