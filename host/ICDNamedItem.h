// Base of every named item of the host's object model (handlers, messages, fields).
#pragma once

#include <string>

#include "ICDPlatform.h"

class ICD_HOST_API ICDNamedItem {
public:
    explicit ICDNamedItem(std::string name);
    virtual ~ICDNamedItem();
    std::string getName() const;

protected:
    std::string _name;
};
