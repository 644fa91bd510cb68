#include "web/RequestGuards.h"

#include "shared/Cp1251.h"
#include "web/WebPage.h"

#include <QHostInfo>

#include <arpa/inet.h>
#include <cstdlib>

namespace {

struct Authority {
    QByteArray host; // lower case, without brackets or a trailing dot
    int port = -1;   // -1 when none was given or it is not a number
};

// "name", "name:port", "[v6]" or "[v6]:port".
Authority authorityOf(QByteArrayView text) {
    Authority authority;
    QByteArray rest = text.trimmed().toByteArray().toLower();
    qsizetype colon = rest.lastIndexOf(':');
    if (rest.startsWith('[')) {
        const qsizetype close = rest.indexOf(']');
        if (close < 0)
            return {rest, -1};
        colon = rest.indexOf(':', close);
        authority.host = rest.mid(1, close - 1);
    } else {
        authority.host = colon < 0 ? rest : rest.left(colon);
    }
    if (colon >= 0) {
        bool number = false;
        const int port = rest.mid(colon + 1).toInt(&number);
        authority.port = number && port > 0 && port <= 65535 ? port : 0;
    }
    if (authority.host.endsWith('.'))
        authority.host.chop(1);
    return authority;
}

int portOr(int port, bool https) {
    return port >= 0 ? port : (https ? 443 : 80);
}

// Whether an address names this server: an Origin is "scheme://host[:port]" ("null" for a
// page that has none to give), a Referer the same followed by the page's path.
bool namesThisServer(QByteArrayView address, const RequestGuards::Origin& request) {
    const QByteArray scheme = request.https ? "https://" : "http://";
    const QByteArray url = address.trimmed().toByteArray().toLower();
    if (!url.startsWith(scheme) || request.host.isEmpty())
        return false;
    QByteArrayView authority = QByteArrayView(url).sliced(scheme.size());
    for (const char end : {'/', '?', '#'})
        if (const qsizetype at = authority.indexOf(end); at >= 0)
            authority.truncate(at);
    const Authority from = authorityOf(authority);
    const Authority own = authorityOf(request.host);
    return !from.host.isEmpty() && from.host == own.host &&
           portOr(from.port, request.https) == portOr(own.port, request.https);
}

bool isIpAddress(const QByteArray& host) {
    unsigned char address[16];
    return ::inet_pton(AF_INET, host.constData(), address) == 1 ||
           ::inet_pton(AF_INET6, host.constData(), address) == 1;
}

QByteArray refusalPage(const QString& text, const QByteArray& more = {}) {
    return WebPage::build(QStringLiteral("запрос отклонён"), WebPage::paragraph(text, true) + more);
}

} // namespace

namespace RequestGuards {

bool fromAnotherSite(const Origin& request) {
    const QByteArray site = request.secFetchSite.trimmed().toLower();
    if (!site.isEmpty())
        return site != "same-origin" && site != "none";
    if (!request.origin.isEmpty())
        return !namesThisServer(request.origin, request);
    return !request.referer.isEmpty() && !namesThisServer(request.referer, request);
}

bool startedByTheBrowser(QByteArrayView secFetchSite) {
    return secFetchSite.trimmed().compare("none", Qt::CaseInsensitive) == 0;
}

QList<QByteArray> ownNames() {
    QList<QByteArray> names{"localhost"};
    const QByteArray host = QHostInfo::localHostName().toLower().toUtf8();
    const QByteArray domain = QHostInfo::localDomainName().toLower().toUtf8();
    const QByteArray shortName = host.left(host.indexOf('.'));
    for (const QByteArray& name :
         {host, shortName, domain.isEmpty() ? QByteArray() : shortName + '.' + domain})
        if (!name.isEmpty() && !names.contains(name))
            names.append(name);
    for (const QByteArray& listed : QByteArray(std::getenv(HOSTS_VARIABLE)).split(',')) {
        const QByteArray name = authorityOf(listed).host;
        if (!name.isEmpty() && !names.contains(name))
            names.append(name);
    }
    return names;
}

bool hostAllowed(QByteArrayView host, const QList<QByteArray>& names) {
    if (host.trimmed().isEmpty())
        return true;
    const QByteArray name = authorityOf(host).host;
    return isIpAddress(name) || names.contains(name);
}

QByteArray crossSitePage(bool loggedIn) {
    const QString link =
        loggedIn ? QStringLiteral("<a href=\"/Command.html\">Перейти к вводу команды</a>")
                 : QStringLiteral("<a href=\"/index.html\">Перейти ко входу в терминал</a>");
    return refusalPage(QStringLiteral("Запрос отклонён: он пришёл с другой страницы, "
                                      "а не со страницы этого терминала."),
                       "<p>" + Cp1251::fromUnicode(link) + "</p>\n");
}

QByteArray foreignHostPage() {
    return refusalPage(QStringLiteral("Запрос отклонён: это имя сервера не разрешено. "
                                      "Разрешённые имена задаёт переменная %1.")
                           .arg(QLatin1String(HOSTS_VARIABLE)));
}

} // namespace RequestGuards
