// One loaded ICD: its messages and fields, bus clock, UI objects and events.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ICDPlatform.h"
#include "ICDDictionary.h"
#include "ICDMessage.h"
#include "ICDMessageField.h"
#include "ICDNamedItem.h"
#include "ICDUiAbstractItem.h"
#include "ICDUiObject.h"

class ICD_HOST_API ICDHandler : public ICDUiAbstractItem, public ICDNamedItem {
public:
    struct ErrorReport {
        std::string text;
        int severity;
    };

    // Loads an ICD file. On any fault returns null and sets `error` to one line naming the file,
    // the line and the reason; nothing of that file is kept.
    static std::unique_ptr<ICDHandler> load(const std::string& path, std::string* error);

    ICDHandler(std::string name, std::string xmlConfigFileName, unsigned long busClockPeriod);
    ~ICDHandler() override;

    ICDMessage* findMessage(std::string name);
    std::string getXMLConfigFileName() const;
    unsigned long getBusClockPeriod() const;
    // Puts an event into the ICD: delivered at once, on the calling thread, to every UI object
    // registered on the handler (data 0).
    virtual void sendICDEvent(unsigned int event);
    // Reports an error to the application; severity is clamped by callers to at most 3.
    virtual bool raiseError(std::string text, int severity);

    // Host side.
    ICDMessage* addMessage(std::string name, bool alwaysEnterSession);
    std::vector<ICDMessage*> messages() const;
    std::vector<ErrorReport> errors() const;

private:
    struct State;
    std::unique_ptr<State> _state;
};
