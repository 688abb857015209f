#include "brumlis/sentence/templates.h"

namespace brumlis {

namespace {

constexpr TemplateSlot tyckerAtt{u"tycker att", u"sound/tycker_att.wav"};
constexpr TemplateSlot ar{u"är", u"sound/är.wav"};
constexpr TemplateSlot arEtt{u"är ett", u"sound/är_ett.wav"};
constexpr TemplateSlot arEn{u"är en", u"sound/är_en.wav"};
constexpr TemplateSlot har{u"har", u"sound/har.wav"};
constexpr TemplateSlot harEn{u"har en", u"sound/har_en.wav"};
constexpr TemplateSlot harEtt{u"har ett", u"sound/har_ett.wav"};
constexpr TemplateSlot som{u"som", u"sound/som.wav"};

constexpr TemplateSlot namn{u"namn", {}};
constexpr TemplateSlot adj{u"adj", {}};
constexpr TemplateSlot adjNeu{u"adj_neu", {}};
constexpr TemplateSlot farg{u"färg", {}};
constexpr TemplateSlot sub{u"sub", {}};
constexpr TemplateSlot subNeu{u"sub_neu", {}};
constexpr TemplateSlot subReale{u"sub_reale", {}};
constexpr TemplateSlot verbPre{u"verb_pre", {}};
constexpr TemplateSlot verbPer{u"verb_per", {}};
constexpr TemplateSlot prep{u"prep", {}};
constexpr TemplateSlot plats{u"plats", {}};

} // namespace

const std::array<SentenceTemplate, TemplateCount> Templates = {{
    {5, {namn, tyckerAtt, namn, ar, adj}},
    {6, {namn, tyckerAtt, namn, arEtt, adjNeu, subNeu}},
    {6, {namn, tyckerAtt, namn, arEn, adj, subReale}},
    {6, {namn, tyckerAtt, namn, arEn, farg, subReale}},
    {4, {namn, ar, prep, plats}},
    {4, {namn, verbPre, prep, plats}},
    {6, {namn, har, verbPer, sub, prep, plats}},
    {6, {namn, harEn, adj, subReale, prep, plats}},
    {6, {namn, harEtt, adjNeu, subNeu, prep, plats}},
    {8, {namn, harEn, adj, subReale, som, verbPre, prep, plats}},
    {8, {namn, harEtt, adjNeu, subNeu, som, verbPre, prep, plats}},
}};

const std::array<TemplateSlot, 8> FixedPhrases = {tyckerAtt, ar,    arEtt,  arEn,
                                                  har,       harEn, harEtt, som};

const std::array<QStringView, 11> WordClasses = {
    namn.text,     adj.text,     adjNeu.text,  farg.text, sub.text,   subNeu.text,
    subReale.text, verbPre.text, verbPer.text, prep.text, plats.text,
};

} // namespace brumlis
