#include "update_request.hpp"

namespace romwright_gui {

void declareEndpointMetaType() {
    qRegisterMetaType<ba::endpoint>("ba::endpoint");
}

void registerUpdateMetaTypes() {
    qRegisterMetaType<ROMWRIGHT_OPERATION>("ROMWRIGHT_OPERATION");
    qRegisterMetaType<ROMWRIGHT_LOG_LEVEL>("ROMWRIGHT_LOG_LEVEL");
    qRegisterMetaType<ROMWRIGHT_RC>("ROMWRIGHT_RC");
    qRegisterMetaType<romwright::options>("romwright::options");
    qRegisterMetaType<std::string>("std::string");
    qRegisterMetaType<romwrite_mode>("romwrite_mode");
}

} // namespace romwright_gui
