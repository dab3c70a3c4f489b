// Conversions between SocketAddress and the BSD socket structures, which POSIX sockets and Winsock
// share field for field. Included by the socket backends after their own system headers, which
// declare sockaddr_in, sockaddr_in6, sockaddr_storage, htons and the rest.
#pragma once

#include <cstring>
#include <vector>

#include "quelby/discovery/socket_address.h"

namespace quelby::net {

// The IPv4 and IPv6 results of a resolver list (addrinfo or ADDRINFOW), in its order, each given
// `port`; other families are skipped.
template <class AddrInfo>
std::vector<SocketAddress> socket_addresses_from(const AddrInfo* list, std::uint16_t port) {
    std::vector<SocketAddress> addresses;
    for (const AddrInfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        SocketAddress address;
        address.port = port;
        if (ai->ai_family == AF_INET && ai->ai_addrlen >= sizeof(sockaddr_in)) {
            sockaddr_in sin{};
            std::memcpy(&sin, ai->ai_addr, sizeof sin);
            address.family = Family::V4;
            std::memcpy(address.bytes.data(), &sin.sin_addr, 4);
        } else if (ai->ai_family == AF_INET6 && ai->ai_addrlen >= sizeof(sockaddr_in6)) {
            sockaddr_in6 sin6{};
            std::memcpy(&sin6, ai->ai_addr, sizeof sin6);
            address.family = Family::V6;
            std::memcpy(address.bytes.data(), &sin6.sin6_addr, 16);
            address.scope_id = sin6.sin6_scope_id;
            address.flow_info = ntohl(sin6.sin6_flowinfo);
        } else {
            continue;
        }
        addresses.push_back(address);
    }
    return addresses;
}

// Fills `storage` with `address`; returns the length of the structure to pass to connect().
inline std::size_t to_sockaddr(const SocketAddress& address, sockaddr_storage& storage) {
    storage = {};
    if (address.family == Family::V4) {
        sockaddr_in sin{};
        sin.sin_family = AF_INET;
        sin.sin_port = htons(address.port);
        std::memcpy(&sin.sin_addr, address.bytes.data(), 4);
        std::memcpy(&storage, &sin, sizeof sin);
        return sizeof sin;
    }
    sockaddr_in6 sin6{};
    sin6.sin6_family = AF_INET6;
    sin6.sin6_port = htons(address.port);
    sin6.sin6_flowinfo = htonl(address.flow_info);
    sin6.sin6_scope_id = address.scope_id;
    std::memcpy(&sin6.sin6_addr, address.bytes.data(), 16);
    std::memcpy(&storage, &sin6, sizeof sin6);
    return sizeof sin6;
}

}  // namespace quelby::net
