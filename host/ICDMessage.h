// One message of an ICD: its fields, and the commit that encodes them all.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "ICDPlatform.h"
#include "ICDNamedItem.h"
#include "ICDMessageField.h"

class ICDHandler;

class ICD_HOST_API ICDMessage : public ICDNamedItem {
public:
    ICDMessage(ICDHandler* handler, std::string name, bool alwaysEnterSession);
    ~ICDMessage() override;
    ICDMessage(const ICDMessage&) = delete;
    ICDMessage& operator=(const ICDMessage&) = delete;

    ICDGenericMessageField* findMessageField(std::string name);
    // Encodes every field into its raw form without sending anything.
    void commitChanges();
    // Marks the message as updated.
    void touch();
    // Encodes one field of this message without sending; true when the field belongs to this
    // message and encoded.
    bool commitSingleField(ICDGenericMessageField* field);

    // Read directly by plug-ins and handed to transcoders: when true, a transcoder of this
    // message always enters its script's interpreter session.
    bool _alwaysEnterSession;

    // Host side.
    ICDHandler* getHandler() const;
    ICDGenericMessageField* addField(std::string name, unsigned int dataType);
    std::vector<ICDGenericMessageField*> fields() const;
    unsigned long commitCount() const;
    unsigned long touchCount() const;

private:
    struct State;
    std::unique_ptr<State> _state;
};
