#include "store/protocol_context.h"

#include <algorithm>

namespace kivimap::store {

void SaslExchange::Clear() {
  mechanism = SaslMechanism::None;
  tag.clear();
  username_received = false;
  std::fill(username.begin(), username.end(), '\0');
  std::string().swap(username);
}

}  // namespace kivimap::store
