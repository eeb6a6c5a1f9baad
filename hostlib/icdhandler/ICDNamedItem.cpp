#include "ICDNamedItem.h"

ICDNamedItem::ICDNamedItem(std::string name) : _name(std::move(name)) {}

ICDNamedItem::~ICDNamedItem() = default;

std::string ICDNamedItem::getName() const {
    return _name;
}
