#include "hub/ui/PortLists.h"

#include "common/SpeedTable.h"
#include "hub/engine/GpsPort.h"
#include "platform/ErrorCodes.h"
#include "platform/SerialPort.h"
#include "platform/TextBuilder.h"

namespace tavro {
namespace {

void ComEntryText(char (&text)[8], uint32_t comNumber) {
    platform::TextBuilder(text, sizeof text).Append("COM").AppendUnsigned(comNumber);
}

uint32_t VirtualList(uint32_t k) {
    return control::firstVirtualPort + k;
}

} // namespace

int32_t PortLists::IndexOf(const uint8_t* numbers, uint32_t count, uint32_t number) {
    for (uint32_t i = 0; i < count; ++i) {
        if (numbers[i] == number) {
            return static_cast<int32_t>(i);
        }
    }
    return -1;
}

void PortLists::FillPortLists() {
    Settings& settings = hub_.settings;
    uint32_t* const virtualPorts = hub_.exchange.block.comNumber;
    const bool portsEnabled = hub_.exchange.DeviceOpen();

    // 1. Speeds.
    view_.ClearList(control::speed);
    for (uint32_t i = 0; i < speedTableCount; ++i) {
        char text[12];
        platform::TextBuilder(text, sizeof text).AppendUnsigned(speedTable[i]);
        view_.AddListEntry(control::speed, text);
        if (speedTable[i] == settings.baud) {
            view_.SelectListEntry(control::speed, static_cast<int32_t>(i));
        }
    }

    // 2. Every port list begins with the empty entry; the input list's shows a network
    // "Source", which then is the one selected.
    for (uint32_t id = control::inputPort; id <= control::lastVirtualPort; ++id) {
        view_.ClearList(id);
        view_.AddListEntry(id, id == control::inputPort ? settings.source : "");
    }
    if (!hub_.SourceIsSerial()) {
        view_.SelectListEntry(control::inputPort, 0);
    }
    inputNumbers_[0] = 0;
    inputCount_ = 1;
    virtualNumbers_[0] = 0;
    virtualCount_ = 1;

    // 3. Taken numbers to the input list, free ones (and the hub's own while the ports run)
    // to the virtual port lists.
    uint32_t freeSeen = 0;
    uint32_t defaultsGiven = 0;
    for (uint32_t n = ComDbBitmap::firstComNumber; n <= ComDbBitmap::lastComNumber; ++n) {
        char text[8];
        ComEntryText(text, n);
        if (hub_.comDbBitmap.IsTaken(n)) {
            bool ownPort = false;
            for (uint32_t k = 0; k < virtualPortCount; ++k) {
                if (virtualPorts[k] != n) {
                    continue;
                }
                if (portsEnabled) {
                    ownPort = true;
                } else {
                    virtualPorts[k] = 0; // a real port has taken the number
                }
            }
            if (!ownPort) {
                view_.AddListEntry(control::inputPort, text);
                if (n == settings.port && hub_.SourceIsSerial()) {
                    view_.SelectListEntry(control::inputPort, static_cast<int32_t>(inputCount_));
                }
                inputNumbers_[inputCount_++] = static_cast<uint8_t>(n);
                continue;
            }
        }
        for (uint32_t k = 0; k < virtualPortCount; ++k) {
            view_.AddListEntry(VirtualList(k), text);
            const bool firstRunDefault = !portsEnabled && settings.firstRun && k == 0 &&
                                         freeSeen == 0 && defaultsGiven == 0 &&
                                         virtualPorts[0] == 0;
            if (firstRunDefault) {
                virtualPorts[0] = n;
                ++defaultsGiven;
            }
            if (firstRunDefault || virtualPorts[k] == n) {
                view_.SelectListEntry(VirtualList(k), static_cast<int32_t>(virtualCount_));
            }
        }
        virtualNumbers_[virtualCount_++] = static_cast<uint8_t>(n);
        ++freeSeen;
    }
}

void PortLists::SelectCurrentPort() {
    const Settings& settings = hub_.settings;
    int32_t speedIndex = -1;
    for (uint32_t i = 0; i < speedTableCount; ++i) {
        if (speedTable[i] == settings.baud) {
            speedIndex = static_cast<int32_t>(i);
        }
    }
    // A speed a client asked for that the list does not offer: showing the old speed would let
    // the next SyncPortLists take that one back into "Baud", and the next open of the input
    // port would then leave the receiver at a speed it no longer uses.
    view_.SelectListEntry(control::speed, speedIndex);
    const int32_t portIndex =
        hub_.SourceIsSerial() ? IndexOf(inputNumbers_, inputCount_, settings.port) : 0;
    if (portIndex >= 0) {
        view_.SelectListEntry(control::inputPort, portIndex);
    }
}

void PortLists::SyncPortLists() {
    // 1.
    if (hub_.inputPort != nullptr) {
        hub_.inputPort->DriverExchange();
    }
    // 2. Without a selection (a "Baud" the list does not offer) "Baud" stays.
    const int32_t speedIndex = view_.SelectedListEntry(control::speed);
    if (speedIndex >= 0 && static_cast<uint32_t>(speedIndex) < speedTableCount) {
        hub_.settings.baud = speedTable[speedIndex];
    }
    // 3.
    view_.SetChecked(control::enablePorts, hub_.exchange.DeviceOpen());
    // 4. The lists follow the stored numbers.
    for (uint32_t k = 0; k < virtualPortCount; ++k) {
        const uint32_t stored = hub_.exchange.block.comNumber[k];
        if (SelectedVirtualNumber(k) != stored) {
            view_.SelectListEntry(VirtualList(k), IndexOf(virtualNumbers_, virtualCount_, stored));
        }
    }
}

void PortLists::AssignVirtualPort(uint32_t k) {
    if (k >= virtualPortCount) {
        return;
    }
    uint32_t* const virtualPorts = hub_.exchange.block.comNumber;
    const uint32_t n = SelectedVirtualNumber(k);
    virtualPorts[k] = n;
    if (n != 0) {
        // Only a number that names no port of the system is free; a port that exists is taken
        // whether or not it could be opened just now.
        uint32_t error = error::success;
        hub_.system.serialPorts.Open(n, platform::SerialSharing::None, error).reset();
        if (error == error::fileNotFound) {
            for (uint32_t j = 0; j < virtualPortCount; ++j) {
                if (j != k && virtualPorts[j] == n) {
                    virtualPorts[k] = 0; // no number is given twice
                }
            }
        } else {
            notifier_.ShowMessage(portInUseMessage);
            virtualPorts[k] = 0;
        }
    }
    SyncPortLists();
}

void PortLists::SetVirtualListsEnabled() {
    const bool enabled = !hub_.exchange.DeviceOpen();
    for (uint32_t k = 0; k < virtualPortCount; ++k) {
        view_.EnableControl(VirtualList(k), enabled);
    }
}

uint32_t PortLists::SelectedInputPort() {
    const int32_t index = view_.SelectedListEntry(control::inputPort);
    return index >= 0 && static_cast<uint32_t>(index) < inputCount_ ? inputNumbers_[index] : 0;
}

uint32_t PortLists::SelectedVirtualNumber(uint32_t k) {
    const int32_t index = view_.SelectedListEntry(VirtualList(k));
    return index >= 0 && static_cast<uint32_t>(index) < virtualCount_ ? virtualNumbers_[index] : 0;
}

} // namespace tavro
