#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include <grpcpp/grpcpp.h>

#include "Auth.h"
#include "BoardHost.h"
#include "Leases.h"
#include "korvikd.grpc.pb.h"

namespace korvikd {

struct ServiceConfig {
    /// Calls that do not come through the Unix socket need one of these.
    std::vector<Token> tokens;
    /// ... or a client certificate these CAs signed (null: tokens only).
    std::shared_ptr<const ClientCertificates> client_certs;
    /// Plain TCP on loopback without a token file: no token needed.
    bool open_tcp = false;
    /// Revoke needs it ("korvik-admin" metadata); empty: nobody may revoke.
    std::string admin_token;
    int64_t lease_default_ms = 30000;
    int64_t lease_max_ms = 300000;
    size_t queue_capacity = 4096;
    /// Time between heartbeats on a quiet watch stream.
    int heartbeat_ms = 500;
};

/// Milliseconds of the Unix epoch, as leases count.
int64_t now_ms();

/// The gRPC face of the boards: who may call, leases, and the hop from gRPC
/// threads to the board thread.
class BoardService final : public korvik::rpc::Boards::Service {
public:
    BoardService(BoardHost& host, ServiceConfig config);

    grpc::Status List(grpc::ServerContext* context, const korvik::rpc::ListRequest* request,
                      korvik::rpc::ListReply* reply) override;
    grpc::Status Acquire(grpc::ServerContext* context, const korvik::rpc::LeaseRequest* request,
                         korvik::rpc::LeaseReply* reply) override;
    grpc::Status Renew(grpc::ServerContext* context, const korvik::rpc::LeaseRequest* request,
                       korvik::rpc::LeaseReply* reply) override;
    grpc::Status Release(grpc::ServerContext* context, const korvik::rpc::LeaseRequest* request,
                         korvik::rpc::Empty* reply) override;
    grpc::Status Revoke(grpc::ServerContext* context, const korvik::rpc::RevokeRequest* request,
                        korvik::rpc::Empty* reply) override;
    grpc::Status Apply(grpc::ServerContext* context, const korvik::rpc::OpBatch* request,
                       korvik::rpc::OpReply* reply) override;
    grpc::Status ApplyAll(grpc::ServerContext* context, const korvik::rpc::OpBatches* request,
                          korvik::rpc::OpReplies* reply) override;
    grpc::Status Watch(grpc::ServerContext* context, const korvik::rpc::WatchRequest* request,
                       grpc::ServerWriter<korvik::rpc::Event>* writer) override;

    /// The checks and the work of Apply without a network: the fuzz target's entry.
    /// Whether the batch may go to its board (writes need the caller's lease).
    grpc::Status may_apply(const korvik::rpc::OpBatch& request);
    /// With a context, nothing is done once its caller has gone.
    grpc::Status apply(const Client& client, const korvik::rpc::OpBatch& request, korvik::rpc::OpReply& reply,
                       const grpc::ServerContext* context = nullptr);

    LeaseTable& leases() { return lease_table; }
    /// Drops ended leases (the daemon calls it now and then).
    void expire_leases();

private:
    /// Who calls, and whether they may: "permission denied" without a valid token.
    grpc::Status authorize(grpc::ServerContext* context, Client& client);
    grpc::Status run(const std::function<grpc::Status()>& work);
    int64_t lease_duration(uint32_t seconds) const;

    BoardHost& host;
    ServiceConfig config;
    LeaseTable lease_table;
};

} // namespace korvikd
