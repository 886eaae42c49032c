// Passwords in ledger locations: what a message may show of a URL, which texts of it must
// never be shown, and the one function every message that may hold them passes through.
//
// Contract: pure text functions, no engine needed (the Windows build without PostgreSQL has
// them too). They hide too much rather than too little: a password with an unencoded '@', '/'
// or '?' is cut by a URL parser in places a reader cannot know, so everything that might be
// part of it is hidden.
#pragma once

#include <string>
#include <vector>

// The password texts a location carries (after "user:" and in every password= parameter), as
// written and percent-decoded, and the pieces of each that an unencoded '/', '?' or '@' cuts
// it into. Empty for a file path.
std::vector<std::string> LocationSecrets(const std::string& location);

// text with every secret replaced by "***" (one of one or two characters only where it stands
// between quotes or URL delimiters, not inside a word) and every URL in it shown as
// RedactLocation shows it.
std::string RedactSecrets(const std::string& text, const std::vector<std::string>& secrets);

// The location with its scheme in small letters, as libpq needs it ("Postgresql://" is a URL
// to us but a database name to libpq, which would echo it whole).
std::string NormalizeScheme(const std::string& location);
