// Text made safe for the dashboard's pages: everything that comes from a ledger (a module's
// name, a message, a station's name, an address) passes through HtmlText before it reaches a
// page or a chart, and every value put into a link through UrlPart first.
#pragma once

#include <string>

// Text as HTML or XML character data or an attribute's quoted value: & < > " ' as entities, and
// control characters (which XML forbids and a page would not show) as U+FFFD. Bytes of UTF-8 pass
// unchanged; the pages declare UTF-8.
std::string HtmlText(const std::string& text);
// One query value percent-encoded (everything but letters, digits and -._~), for a link's query.
std::string UrlPart(const std::string& text);
