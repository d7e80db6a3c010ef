// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/publish/BrokerUrl.h"

#include <algorithm>
#include <cctype>
#include <charconv>

#include "platform/publish/Payloads.h"

namespace publish {

namespace {

constexpr std::string_view kScheme = "mqtt://";

bool startsWithNoCase(std::string_view text, std::string_view start)
{
    return text.size() >= start.size() && std::equal(start.begin(), start.end(), text.begin(), [](char lower, char c) {
               return std::tolower(static_cast<unsigned char>(c)) == lower;
           });
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

std::optional<std::string> percentDecoded(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            out.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size()) return std::nullopt;
        int high = hexValue(text[i + 1]), low = hexValue(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        out.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return out;
}

bool isHostNameChar(char c)
{
    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_';
}

bool isIpv6Char(char c)
{
    return std::isxdigit(static_cast<unsigned char>(c)) || c == ':' || c == '.';
}

// The length of the UTF-8 sequence at text[0] and its code point; 0 for bytes that are not
// well-formed UTF-8 (overlong forms, surrogates and code points past U+10FFFF among them).
std::size_t utf8Sequence(std::string_view text, char32_t& point)
{
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    const std::size_t length = lead < 0x80                    ? 1
                               : lead >= 0xC2 && lead <= 0xDF ? 2
                               : lead >= 0xE0 && lead <= 0xEF ? 3
                               : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                              : 0;
    if (length == 0 || length > text.size()) return 0;
    point = length == 1 ? lead : lead & (0x7F >> length);
    for (std::size_t i = 1; i < length; ++i) {
        if ((byte(i) & 0xC0) != 0x80) return 0;
        point = (point << 6) | (byte(i) & 0x3F);
    }
    const char32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
    if (point < smallest[length] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF)) return 0;
    return length;
}

// What MQTT allows in a topic name, for the prefix: well-formed UTF-8 without control characters
// (the broker refuses them, or clients must not send them).
std::string topicFault(std::string_view prefix)
{
    for (std::size_t at = 0; at < prefix.size();) {
        char32_t point = 0;
        const std::size_t length = utf8Sequence(prefix.substr(at), point);
        if (length == 0) return "the topic prefix is not valid UTF-8 (at byte " + std::to_string(at + 1) + ")";
        if (point < 0x20 || (point >= 0x7F && point <= 0x9F))
            return "the topic prefix holds a control character (at byte " + std::to_string(at + 1) + ")";
        at += length;
    }
    // Every topic is PREFIX/SUBTOPIC, and MQTT counts a topic's length in 16 bits.
    std::size_t longest = 0;
    for (std::string_view subtopic : {kSummaryTopic, kRawTopic, kStatusTopic, kEventTopic})
        longest = std::max(longest, subtopic.size());
    constexpr std::size_t mqttLimit = 65535;
    if (prefix.size() + 1 + longest > mqttLimit)
        return "the topic prefix is " + std::to_string(prefix.size()) + " bytes long; MQTT allows "
               + std::to_string(mqttLimit - 1 - longest) + " with the topics Quivra adds";
    return {};
}

// The URL as it may be shown in an error, on one line of bounded length: control characters and
// bytes that are not UTF-8 are written as \xNN, and a password is never written to a log.
std::string shown(std::string_view url)
{
    auto start = url.find("://");
    start = start == std::string_view::npos ? 0 : start + 3;
    std::string_view authority = url.substr(start, url.find('/', start) - start);
    auto at = authority.rfind('@');
    auto colon = authority.find(':');
    std::string hidden(url);
    if (at != std::string_view::npos && colon != std::string_view::npos && colon < at)
        hidden = std::string(url.substr(0, start + colon + 1)) + "***" + std::string(url.substr(start + at));
    constexpr std::size_t longest = 120;
    std::string out;
    std::size_t i = 0;
    while (i < hidden.size() && out.size() < longest) {
        char32_t point = 0;
        const std::size_t length = utf8Sequence(std::string_view(hidden).substr(i), point);
        if (length == 0 || point < 0x20 || (point >= 0x7F && point <= 0x9F)) {
            static constexpr char digits[] = "0123456789abcdef";
            const auto b = static_cast<unsigned char>(hidden[i]);
            out += {'\\', 'x', digits[b >> 4], digits[b & 15]};
            i += length == 0 ? 1 : length;
        } else {
            out.append(hidden, i, length);
            i += length;
        }
    }
    if (i < hidden.size()) out += "...";
    return out;
}

} // namespace

std::string BrokerUrl::endpoint() const
{
    bool ipv6 = host.find(':') != std::string::npos;
    return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

namespace {

// "USER[:PASSWORD]@" off the front of authority, into result. A raw "@" in a password is common
// enough to accept: the last "@" ends the credentials.
bool takeCredentials(std::string_view& authority, Server& result, std::string& why)
{
    const auto at = authority.rfind('@');
    if (at == std::string_view::npos) return true;
    std::string_view userInfo = authority.substr(0, at);
    authority = authority.substr(at + 1);
    const auto colon = userInfo.find(':');
    auto user = percentDecoded(userInfo.substr(0, colon));
    if (!user) {
        why = "bad percent escape in the user name";
        return false;
    }
    if (user->empty()) {
        why = "the user name before \"@\" is empty";
        return false;
    }
    result.user = std::move(*user);
    if (colon == std::string_view::npos) return true;
    auto password = percentDecoded(userInfo.substr(colon + 1));
    if (!password) {
        why = "bad percent escape in the password";
        return false;
    }
    result.password = std::move(*password);
    return true;
}

} // namespace

std::optional<Server> parseServer(std::string_view authority, int defaultPort, std::string& why)
{
    auto fail = [&](std::string_view reason) {
        why = std::string(reason);
        return std::nullopt;
    };
    Server result;
    result.port = defaultPort;
    if (!takeCredentials(authority, result, why)) return std::nullopt;

    std::string_view portText;
    if (!authority.empty() && authority.front() == '[') {
        auto close = authority.find(']');
        if (close == std::string_view::npos) return fail("missing \"]\" after the IPv6 address");
        std::string_view address = authority.substr(1, close - 1);
        if (address.empty() || !std::all_of(address.begin(), address.end(), isIpv6Char)
            || address.find(':') == std::string_view::npos)
            return fail("bad IPv6 address in brackets");
        result.host = std::string(address);
        std::string_view after = authority.substr(close + 1);
        if (!after.empty() && after.front() != ':') return fail("unexpected text after the IPv6 address");
        if (!after.empty()) portText = after.substr(1);
        if (!after.empty() && portText.empty()) return fail("the port after \":\" is empty");
    } else {
        auto colon = authority.find(':');
        if (colon != std::string_view::npos && authority.find(':', colon + 1) != std::string_view::npos)
            return fail("an IPv6 address must be written in brackets, as in [fd00::5]:" + std::to_string(defaultPort));
        std::string_view host = authority.substr(0, colon);
        if (host.empty()) return fail("the host name is missing");
        if (!std::all_of(host.begin(), host.end(), isHostNameChar))
            return fail("bad host name \"" + std::string(host) + "\"");
        result.host = std::string(host);
        if (colon != std::string_view::npos) {
            portText = authority.substr(colon + 1);
            if (portText.empty()) return fail("the port after \":\" is empty");
        }
    }
    if (!portText.empty()) {
        int port = 0;
        auto [end, ec] = std::from_chars(portText.data(), portText.data() + portText.size(), port);
        if (ec != std::errc() || end != portText.data() + portText.size() || port < 1 || port > 65535
            || !std::isdigit(static_cast<unsigned char>(portText.front())))
            return fail("the port must be a number from 1 to 65535");
        result.port = port;
    }
    return result;
}

std::string Server::endpoint() const
{
    bool ipv6 = host.find(':') != std::string::npos;
    return (ipv6 ? "[" + host + "]" : host) + ":" + std::to_string(port);
}

std::string shownUrl(std::string_view url)
{
    return shown(url);
}

std::optional<BrokerUrl> parseBrokerUrl(std::string_view url, std::string& error)
{
    auto fail = [&](std::string_view why) {
        error = "Bad MQTT URL " + shown(url) + ": " + std::string(why);
        return std::nullopt;
    };
    if (url.empty()) return fail("it is empty; expected mqtt://[USER[:PASSWORD]@]HOST[:PORT]/TOPIC-PREFIX");
    if (startsWithNoCase(url, "mqtts://")) return fail("TLS (mqtts://) is not supported; use mqtt://");
    if (!startsWithNoCase(url, kScheme)) return fail("it must start with mqtt://");

    std::string_view rest = url.substr(kScheme.size());
    auto slash = rest.find('/');
    std::string_view path = slash == std::string_view::npos ? std::string_view{} : rest.substr(slash + 1);
    std::string why;
    std::optional<Server> server = parseServer(rest.substr(0, slash), 1883, why);
    if (!server) return fail(why);
    BrokerUrl result;
    result.host = std::move(server->host);
    result.port = server->port;
    result.user = std::move(server->user);
    result.password = std::move(server->password);

    // "plant/line1/" means "plant/line1"; nothing else is tidied up.
    while (!path.empty() && path.back() == '/') path.remove_suffix(1);
    if (path.empty()) return fail("it needs a topic prefix after the host, as in mqtt://broker/plant/line1/pump3");
    if (path.find_first_of("+#") != std::string_view::npos)
        return fail("the topic prefix must not contain the wildcards + or #");
    if (path.front() == '/' || path.find("//") != std::string_view::npos)
        return fail("the topic prefix has an empty level (\"//\")");
    if (const std::string fault = topicFault(path); !fault.empty()) return fail(fault);
    result.prefix = std::string(path);
    return result;
}

} // namespace publish
