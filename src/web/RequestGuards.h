#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

// The checks that keep other web sites out. A web user is known by the address alone, so
// anything that makes a logged-in user's browser send a request would act with the user's
// rights: a picture or a form of another site's page (cross-site), or a name of another
// site that its owner points at this computer (DNS rebinding), which the browser then
// takes for that site. Both are refused before the request is admitted, whatever it asks
// for. A navigation that the browser started itself (the address bar, a bookmark, a link
// opened from a mail, also when another site redirected it here) does not tell who wanted
// it: a command that comes so is shown for confirmation, never run.
namespace RequestGuards {

// The environment variable with further names of this computer, comma-separated.
constexpr const char* HOSTS_VARIABLE = "KORVANT_HTTP_HOSTS";

// What the browser says of where a request comes from.
struct Origin {
    QByteArray host;         // the Host header
    QByteArray origin;       // the Origin header
    QByteArray secFetchSite; // the Sec-Fetch-Site header
    bool https = false;      // the request came over HTTPS
    QByteArray referer{};    // the Referer header
};

// True when the browser marks the request as coming from another site: a Sec-Fetch-Site
// other than "same-origin" or "none" (the user's own address bar or bookmark); without
// that header, an Origin whose scheme, host and port are not this server's as the Host
// header names it; without either (an old browser), a Referer whose scheme, host and port
// are not. A request with none of them (a script, a page that sends no Referer) is not.
bool fromAnotherSite(const Origin& request);

// True when the browser started the request by itself, as a navigation that no page asked
// for (Sec-Fetch-Site "none"): typed, bookmarked, or a link opened from outside the browser.
bool startedByTheBrowser(QByteArrayView secFetchSite);

// The names under which this computer may be asked for: "localhost", its host name short
// and fully qualified, and those of KORVANT_HTTP_HOSTS; all in lower case.
QList<QByteArray> ownNames();

// True when a Host header names an IP address or one of `names` (any port, any letter
// case, a trailing dot left out), or when there is no Host header at all.
bool hostAllowed(QByteArrayView host, const QList<QByteArray>& names);

// The pages of the two refusals (status 403), in code page 1251. The cross-site page links
// to the terminal's own page for the user's state (`loggedIn`: the command page, otherwise
// the login page), so that a link to the terminal on another site costs one click.
QByteArray crossSitePage(bool loggedIn);
QByteArray foreignHostPage();

} // namespace RequestGuards
