// The main window's port lists: the input port list 1001 offers the COM numbers the system has
// taken (real ports), the eight virtual port lists 1002 … 1009 offer the free ones, and the
// speed list 1019 the line speeds. Every port list begins with an empty entry standing for 0
// (no port); port entries read "COM" and the number, speed entries the number.
//
// The stored numbers are authoritative ("Port", "Baud" and the eight virtual port numbers in
// the exchange record): the lists show them, and a choice in a list is checked before it is
// stored. The lists are built only when the window is created, so ports that appear later are
// offered the next time it opens.
#pragma once

#include "hub/engine/HubContext.h"
#include "hub/ui/MainWindowView.h"
#include "platform/Notifier.h"

#include <stdint.h>

namespace tavro {

inline constexpr char portInUseMessage[] = "Port in use\nPress Scan to repair arbiter.";

class PortLists {
public:
    PortLists(HubContext& hub, MainWindowView& view, platform::Notifier& notifier)
        : hub_(hub), view_(view), notifier_(notifier) {}

    // Builds all ten lists from the COM number bitmap. A stored virtual port number that a
    // real port has taken meanwhile is reset to 0 (while the ports are disabled); on a first
    // run with the ports disabled, virtual port 1 gets the lowest free number.
    void FillPortLists();

    // Selects "Baud" in the speed list and "Port" in the input list. A "Port" that the list
    // does not offer leaves its selection alone; a "Baud" outside the speed table clears the
    // speed selection (see SyncPortLists).
    void SelectCurrentPort();

    // After enabling, and every 200 ms while the ports are enabled: one driver exchange, "Baud"
    // from the speed list, "Enable Ports" ticked exactly while the control device is open, and
    // each virtual port list showing the stored number (the empty entry for 0; no selection
    // for a number the list does not offer).
    void SyncPortLists();

    // CBN_SELCHANGE of list 1002 + k: stores the chosen number for virtual port k + 1 after
    // probing it. A number that names a port of the system is refused with a message, a number
    // another virtual port has is undone silently; then SyncPortLists shows the outcome.
    void AssignVirtualPort(uint32_t k);

    // The virtual port lists can be changed only while the ports are disabled.
    void SetVirtualListsEnabled();

    // The COM number of the input list's selection; 0 for the empty entry or none.
    uint32_t SelectedInputPort();

private:
    static constexpr uint32_t entryCapacity = 256; // the empty entry and COM1 … COM255

    uint32_t SelectedVirtualNumber(uint32_t k);
    static int32_t IndexOf(const uint8_t* numbers, uint32_t count, uint32_t number);

    HubContext& hub_;
    MainWindowView& view_;
    platform::Notifier& notifier_;

    // The COM number of every entry, by index, as FillPortLists added them: the input list's,
    // and the one content all eight virtual port lists share.
    uint8_t inputNumbers_[entryCapacity] = {};
    uint32_t inputCount_ = 0;
    uint8_t virtualNumbers_[entryCapacity] = {};
    uint32_t virtualCount_ = 0;
};

} // namespace tavro
