// Base of every named item of the host's object model.
#include "ICDNamedItem.h"

ICDNamedItem::ICDNamedItem(std::string name) : _name(std::move(name)) {}

ICDNamedItem::~ICDNamedItem() = default;

std::string ICDNamedItem::getName() const {
    return _name;
}
