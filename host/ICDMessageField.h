// Message fields: a typed engineering value, its raw bus word, an optional transcoder between the
// two, and a reservation for writing held by at most one UI object.
#pragma once

#include <memory>
#include <string>
#include <variant>

#include "ICDPlatform.h"
#include "ICDTranscoder.h"
#include "ICDUiAbstractItem.h"
#include "ICDNamedItem.h"

class ICDMessage;
class ICDUiObject;

// Value-type codes (getDataType). Codes outside 502..513 are allowed in an ICD file and hold no
// value the host can encode.
enum ICDDataType : unsigned int {
    ICD_TYPE_BITS = 502,       // unsigned 32-bit
    ICD_TYPE_SHORT = 503,      // signed 16-bit
    ICD_TYPE_USHORT = 504,     // unsigned 16-bit
    ICD_TYPE_INT = 505,        // signed 32-bit
    ICD_TYPE_UINT = 506,       // unsigned 32-bit
    ICD_TYPE_LONG = 507,       // the platform's long
    ICD_TYPE_ULONG = 508,      // the platform's unsigned long
    ICD_TYPE_LONGLONG = 509,   // signed 64-bit
    ICD_TYPE_ULONGLONG = 510,  // unsigned 64-bit
    ICD_TYPE_FLOAT = 511,      // IEEE single
    ICD_TYPE_DOUBLE = 512,     // IEEE double
    ICD_TYPE_STRING = 513,     // text
};

class ICD_HOST_API ICDUiGenericMessageField : public ICDUiAbstractItem {
public:
    ICDUiGenericMessageField();
    ~ICDUiGenericMessageField() override;

    bool isReserved() const;
    // Granted when nobody holds the field and `holder` is not null; read back with isReserved.
    void setReservationTo(ICDUiObject* holder);
    // True when `holder` held the reservation, which has now ended.
    bool releaseReservationTo(ICDUiObject* holder);
    ICDUiObject* reservationHolder() const;

protected:
    // Names the field in trace lines: "ICD MESSAGE.FIELD".
    virtual std::string traceName() const = 0;

private:
    struct Reservation;
    std::unique_ptr<Reservation> _reservation;
};

class ICD_HOST_API ICDGenericMessageField : public ICDUiGenericMessageField,
                                            public ICDNamedItem,
                                            public ICDTranscodable {
public:
    using Value =
        std::variant<std::monostate, unsigned short, short, unsigned int, int, unsigned long, long,
                     unsigned long long, long long, float, double, std::string>;

    ICDGenericMessageField(ICDMessage* message, std::string name, unsigned int dataType);
    ~ICDGenericMessageField() override;

    unsigned int getDataType() const;
    // Integer fields whose value lies in 0..UINT_MAX write it and answer true; every other field
    // or value (and a null pointer) answers false.
    virtual bool getAsUInt(unsigned int* value);
    // The current transcoder's name, or "default" when the field has none.
    virtual std::string getEncoderName();

    bool setTranscoder(ICDGenericTranscoder<unsigned short>* transcoder) override;
    bool setTranscoder(ICDGenericTranscoder<short>* transcoder) override;
    bool setTranscoder(ICDGenericTranscoder<unsigned int>* transcoder) override;
    bool setTranscoder(ICDGenericTranscoder<int>* transcoder) override;
    bool setTranscoder(ICDGenericTranscoder<unsigned long>* transcoder) override;
    bool setTranscoder(ICDGenericTranscoder<long>* transcoder) override;
    bool setTranscoder(ICDGenericTranscoder<unsigned long long>* transcoder) override;
    bool setTranscoder(ICDGenericTranscoder<long long>* transcoder) override;
    bool setTranscoder(ICDGenericTranscoder<float>* transcoder) override;
    bool setTranscoder(ICDGenericTranscoder<double>* transcoder) override;
    bool setTranscoder(ICDStringTranscoder* transcoder) override;

    // Host side. All are safe from several threads at once; no lock of the field is held while
    // a transcoder runs, so a transcoder may itself read the field.
    ICDMessage* getMessage() const;
    Value getValue() const;
    // Parses `text` in the field's type (integers in decimal or 0x hexadecimal, range-checked;
    // floats as strtod; any text for string fields). False with `error` set when it does not parse.
    bool setValueFromText(const std::string& text, std::string* error);
    // False when `value` does not hold the field's type.
    bool setValue(const Value& value);
    // Engineering value to raw form, through the transcoder or the default conversion.
    bool encode();
    // Stores `raw` as the raw word, then raw form to engineering value (signed or unsigned decode).
    bool decode(unsigned long long raw, bool asSigned);
    // String fields: stores `raw` as the raw text, then decodes it.
    bool decodeText(const std::string& raw);
    unsigned long long getRaw() const;
    std::string getRawText() const;
    // The value as icdhost prints it: integers in decimal, float %.9g, double %.17g, texts quoted.
    std::string valueText() const;
    std::string rawText() const;

protected:
    std::string traceName() const override;

private:
    struct State;
    std::unique_ptr<State> _state;
};
