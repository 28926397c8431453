#pragma once

namespace ztv {

class MainForm;

// The file manager on a tab's area and the browser on the web page.
class LinkHandlers {
public:
    // The file manager on the current tab's area, whichever menu or button asked.
    void openExplorer(MainForm& form);
    void openWebPage(MainForm& form);
};

} // namespace ztv
