#include "web/SiteLinks.h"

#include <string>

#include "res/Strings.h"
#include "web/CHyperLink.h"

namespace web {

void SetUpSiteLinks(CHyperLink& logo, CHyperLink& siteIcon, CHyperLink& product,
                    platform::shell::IShell& shell) {
    const std::string home(res::kSiteHome);
    for (CHyperLink* link : {&logo, &siteIcon}) {
        link->SetShell(&shell);
        link->SetUrl(home);
        link->SetTip("欢迎访问岚桥科技网站");
    }
    product.SetShell(&shell);
    product.SetUrl(home + std::string(res::kProductPath));
    product.SetTip("点击访问详情");
}

}  // namespace web
