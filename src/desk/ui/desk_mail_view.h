#pragma once
// The desk's mail filing on screen: tmrTraffic starts filing, a centred panel shows its
// progress, and the shown folder is listed again when mail arrived.
namespace px::desk {

class TfrmDesk;
class DeskBrowser;
class DeskMail;
struct DeskState;

DeskMail* InstallDeskMail(TfrmDesk& desk, DeskState& state, DeskBrowser* browser);

}  // namespace px::desk
