// Configuration strings: setConfig() cuts the text into name=value pairs and stores each one,
// config() lists what is stored. Two objects take the same text: a plain one, where every
// name becomes a data field, and one with declared properties of several types, where the
// values are converted.

#include "fuzzsupport.h"

#include "objects/cpropertyobject.h"
#include "objects/ctag.h"

#include <memory>

namespace {

class DeclaredObject : public CPropertyObject
{
    Q_OBJECT
    Q_PROPERTY(int level MEMBER m_level)
    Q_PROPERTY(bool enabled MEMBER m_enabled)
    Q_PROPERTY(double ratio MEMBER m_ratio)
    Q_PROPERTY(QString title MEMBER m_title)
    Q_PROPERTY(QStringList items MEMBER m_items)

public:
    using CPropertyObject::CPropertyObject;

private:
    int m_level = 7;
    bool m_enabled = false;
    double m_ratio = 0.5;
    QString m_title;
    QStringList m_items;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > fuzzsupport::MaxInput)
        return -1;
    fuzzsupport::silenceTrace();
    const QString text = fuzzsupport::text(data, size);

    CPropertyObject plain(nullptr, "plain");
    plain.setObjectProperty(QStringLiteral("child"), new CPropertyObject(nullptr, "child"));
    fuzzsupport::keep(plain.setConfig(text));
    fuzzsupport::keep(plain.config());
    fuzzsupport::keep(plain.propertyNames());

    DeclaredObject declared(nullptr, "declared");
    fuzzsupport::keep(declared.setConfig(text));
    const QStringList listed = declared.config();
    fuzzsupport::keep(listed);

    // What config() lists must read back without trouble, as a copy does.
    std::unique_ptr<CPropertyObject> copy(declared.clone());
    fuzzsupport::keep(copy->setConfig(listed.join(QLatin1Char(' '))));

    // The pairs themselves, with their translation markers.
    CTagToken tokens(text);
    int pairs = 0;
    while (tokens.hasMoreTags() && pairs < 100000) {
        CTag tag;
        tokens.nextTag(tag);
        fuzzsupport::keep(tag.name);
        fuzzsupport::keep(tag.value(true));
        fuzzsupport::keep(std::size_t(tag.translationId) + std::size_t(tag.quoted)); // unsigned: an id may be INT_MAX
        ++pairs;
    }
    return 0;
}

#include "fuzz_config.moc"
