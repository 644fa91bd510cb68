#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

// The checks that keep other web sites out. A web user is known by the address alone, so
// anything that makes a logged-in user's browser send a request would act with the user's
// rights: a picture or a form of another site's page (cross-site), or a name of another
// site that its owner points at this computer (DNS rebinding), which the browser then
// takes for that site. Both are refused before the request is admitted.
namespace RequestGuards {

// The environment variable with further names of this computer, comma-separated.
constexpr const char* HOSTS_VARIABLE = "KORVANT_HTTP_HOSTS";

// What the browser says of where a request comes from.
struct Origin {
    QByteArray host;         // the Host header
    QByteArray origin;       // the Origin header
    QByteArray secFetchSite; // the Sec-Fetch-Site header
    bool https = false;      // the request came over HTTPS
};

// True when the browser marks the request as coming from another site: a Sec-Fetch-Site
// other than "same-origin" or "none" (the user's own address bar or bookmark), or, without
// that header, an Origin whose scheme, host and port are not this server's as the Host
// header names it. A request with neither header (a script, an old browser) is not.
bool fromAnotherSite(const Origin& request);

// The names under which this computer may be asked for: "localhost", its host name short
// and fully qualified, and those of KORVANT_HTTP_HOSTS; all in lower case.
QList<QByteArray> ownNames();

// True when a Host header names an IP address or one of `names` (any port, any letter
// case, a trailing dot left out), or when there is no Host header at all.
bool hostAllowed(QByteArrayView host, const QList<QByteArray>& names);

// The pages of the two refusals (status 403), in code page 1251.
QByteArray crossSitePage();
QByteArray foreignHostPage();

} // namespace RequestGuards
