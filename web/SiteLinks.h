#pragma once

namespace platform::shell {
class IShell;
}  // namespace platform::shell

namespace web {

class CHyperLink;

// Gives the main window's three links their addresses and tips, address first, opening
// through `shell`: the logo and the site icon lead to the maker's home page, the product
// icon to the product page.
void SetUpSiteLinks(CHyperLink& logo, CHyperLink& siteIcon, CHyperLink& product,
                    platform::shell::IShell& shell);

}  // namespace web
