// One service process's voice menus and recognition settings, and what a
// phrase means to them.
#include "voiced/core/servicecore.h"

namespace {

bool SameName(const std::string &a, const std::string &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); ++i) {
        unsigned char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z')
            x += 'a' - 'A';
        if (y >= 'A' && y <= 'Z')
            y += 'a' - 'A';
        if (x != y)
            return false;
    }
    return true;
}

} // namespace

uint32_t ServiceCore::OpenMenu(const std::string &application, const std::string &state,
                               uint16_t language, const std::string &dialect, bool temporary)
{
    for (const auto &menu : menus_)
        if (SameName(menu->application, application) && SameName(menu->state, state))
            return menu->id;
    if (menus_.size() >= MaxServiceMenus)
        return 0;
    auto menu = std::make_unique<ServiceMenu>();
    menu->id = nextId_++;
    menu->application = application;
    menu->state = state;
    menu->language = language;
    menu->dialect = dialect;
    menu->temporary = temporary;
    menus_.push_back(std::move(menu));
    return menus_.back()->id;
}

void ServiceCore::CloseMenu(uint32_t id, bool lastHolder)
{
    for (auto it = menus_.begin(); it != menus_.end(); ++it)
        if ((*it)->id == id) {
            if (lastHolder && (*it)->temporary)
                menus_.erase(it);
            return;
        }
}

ServiceMenu *ServiceCore::Menu(uint32_t id)
{
    for (const auto &menu : menus_)
        if (menu->id == id)
            return menu.get();
    return nullptr;
}

int ServiceCore::Add(uint32_t id, const uint8_t *block, size_t size, uint32_t count,
                     uint32_t *first)
{
    ServiceMenu *menu = Menu(id);
    if (!menu || count > MaxMenuCommands - menu->commands.size())
        return 0;
    const size_t before = menu->commands.size();
    if (!ReadCommandBlock(block, size, count, &menu->commands))
        return 0;
    *first = static_cast<uint32_t>(before + 1);
    return 1;
}

bool ServiceCore::Listening() const
{
    if (!enabled || !awake)
        return false;
    for (const auto &menu : menus_)
        if (menu->active)
            return true;
    return false;
}

Recognition ServiceCore::Recognise(const std::string &phrase) const
{
    Recognition result;
    if (!Listening())
        return result;
    const std::string key = PhraseKey(phrase);
    const ServiceMenu *first = nullptr;
    for (const auto &menu : menus_) {
        if (!menu->active)
            continue;
        if (!first)
            first = menu.get();
        for (const VoiceCommand &command : menu->commands)
            if (PhraseKey(command.phrase) == key) {
                result.outcome = Outcome::Ran;
                result.application = menu->application;
                result.state = menu->state;
                result.command = command;
                return result;
            }
    }
    result.outcome = Outcome::Other;
    result.application = first->application;
    result.state = first->state;
    return result;
}

MenuNotice ServiceCore::Notice(const ServiceMenu &menu) const
{
    MenuNotice notice;
    notice.id = menu.id;
    notice.active = menu.active;
    notice.listening = menu.active && enabled && awake;
    notice.application = menu.application;
    notice.state = menu.state;
    for (const VoiceCommand &command : menu.commands)
        notice.phrases.push_back(command.phrase);
    return notice;
}

bool ClientGone(uint32_t result)
{
    switch (result) {
    case 0x800706BA: // RPC_S_SERVER_UNAVAILABLE: its end of the channel is gone
    case 0x800706BE: // RPC_S_CALL_FAILED
    case 0x800706BF: // RPC_S_CALL_FAILED_DNE
    case 0x800706B5: // RPC_S_UNKNOWN_IF: its objects are gone (apartment ended)
    case 0x80010114: // RPC_E_INVALID_OBJECT
    case 0x80010108: // RPC_E_DISCONNECTED
    case 0x80010007: // RPC_E_SERVER_DIED
    case 0x80010012: // RPC_E_SERVER_DIED_DNE
    case 0x800401FD: // CO_E_OBJNOTCONNECTED
        return true;
    default: return false;
    }
}
