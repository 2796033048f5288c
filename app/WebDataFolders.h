#pragma once

#include <string>

namespace zorvel::WebDataFolders {

// Makes the web views' data and cache folders private before WebKit writes to them: the two
// folders, the folders WebKit keeps in them and its HSTS store are created 0700 and 0600 (or
// brought to those modes when an earlier run left them open), as the application's own folders and
// files are. WebKit creates what it needs beneath with its own modes, which then only this user
// can reach. Symbolic links and entries of other owners are left alone.
void makePrivate(const std::string& dataFolder, const std::string& cacheFolder);

// The same for the folders of WebKit's default network session, which the web views use.
void makeDefaultSessionPrivate();

}  // namespace zorvel::WebDataFolders
