// The main window's Tools commands of the application view (Publish, Unpublish, Options) and of
// the server view (Clone). Each reads the view's selection, from the last entry to the first;
// with nothing selected it shows the nothing-selected notice, else it loads its dialog afresh,
// hands the selection over and shows the dialog modally, owned by the main window.
#pragma once

class QWidget;

namespace brask {

class AdminState;
class Feedback;
class ListBox;

// `applications` is the application view's list; each selected entry goes to the dialog as
// "Applications/" plus the entry, every "\" made "/". The notice is "No Applications Selected",
// titled "Publish" for all three.
void publishCommand(QWidget* main, AdminState& state, Feedback& feedback,
                    const ListBox& applications);
void unpublishCommand(QWidget* main, AdminState& state, Feedback& feedback,
                      const ListBox& applications);
void optionsCommand(QWidget* main, AdminState& state, Feedback& feedback,
                    const ListBox& applications);

// `servers` is the server view's list; its last selected entry is the source server. The notice
// is "No Server Selected", titled "Clone".
void cloneCommand(QWidget* main, AdminState& state, Feedback& feedback, const ListBox& servers);

} // namespace brask
