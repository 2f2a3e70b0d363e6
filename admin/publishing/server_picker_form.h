// The dialogs with the server picker (publish, unpublish, clone): "Available Servers" and
// "Configured Servers" side by side, both sorted with extended selection, Add and Remove between
// them, and a main button that is enabled exactly while a server is configured.
#pragma once

#include <string>
#include <vector>

#include "publishing/publishing_form.h"

namespace brask {

class ListBox;

class ServerPickerForm : public PublishingForm {
    Q_OBJECT
public:
    // The dialog's load: the busy pointer; the main button disabled, pbStatus at 0 and hidden;
    // a fresh farm, and the name of every server of the farm in lstServers. A failure shows the
    // unexpected-error report; the dialog stays usable with what was listed.
    void load();

protected:
    ServerPickerForm(AdminState& state, QWidget* owner, const QString& name, const QString& caption,
                     const QString& explanation, const QString& mainButtonName,
                     const QString& mainButtonCaption);

    // The configured servers in list order (alphabetical).
    std::vector<std::u16string> configuredServers() const;

    ListBox* lstServers;
    ListBox* lstDestServers;
    QPushButton* btnAdd;
    QPushButton* btnRemove;
    QPushButton* mainButton;

private:
    void btnAdd_Click();
    void btnRemove_Click();
    // Moves the selected entries of `from`, from the last to the first, to `to`; nothing when
    // `from` has no current entry. Then the main button follows lstDestServers.
    void moveSelected(ListBox* from, ListBox* to);
};

} // namespace brask
