#include "BoardService.h"

#include <chrono>

namespace korvikd {

using grpc::Status;
using grpc::StatusCode;

namespace {

std::string metadata(grpc::ServerContext* context, const char* key)
{
    const auto& m = context->client_metadata();
    auto it = m.find(key);
    return it == m.end() ? std::string() : std::string(it->second.data(), it->second.size());
}

bool through_unix_socket(grpc::ServerContext* context)
{
    return context->peer().rfind("unix:", 0) == 0;
}

Status denied()
{
    return Status(StatusCode::PERMISSION_DENIED, "permission denied");
}

Status gone()
{
    return Status(StatusCode::CANCELLED, "the caller went away before its turn");
}

std::string holder_text(const LeaseHolder& h)
{
    return h.client.user + "@" + h.client.host + " (" + h.client.program + ")";
}

} // namespace

int64_t now_ms()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

BoardService::BoardService(BoardHost& host_, ServiceConfig config_) : host(host_), config(std::move(config_))
{
}

Status BoardService::authorize(grpc::ServerContext* context, Client& client)
{
    if (!through_unix_socket(context) && !config.open_tcp) {
        std::string name;
        const int64_t now_sec = now_ms() / 1000;
        const std::string header = metadata(context, "authorization");
        bool valid = check_token(config.tokens, header, now_sec, name) == TokenCheck::ok;
        // either credential lets a client in; the TLS layer took the
        // certificate unchecked, so that a bad one gets this answer too
        if (!valid && config.client_certs) {
            const auto pems = context->auth_context()->FindPropertyValues(GRPC_X509_PEM_CERT_PROPERTY_NAME);
            const std::string pem = pems.empty() ? std::string() : std::string(pems.front().data(), pems.front().size());
            valid = config.client_certs->check(pem, now_sec, name) == CertCheck::ok;
        }
        if (!valid)
            return denied();
    }
    client.id = metadata(context, "korvik-client");
    client.user = metadata(context, "korvik-user");
    client.host = metadata(context, "korvik-host");
    client.program = metadata(context, "korvik-program");
    if (client.id.empty())
        client.id = context->peer();
    return Status::OK;
}

Status BoardService::run(const std::function<Status()>& work)
{
    Status result;
    host.post([&result, &work] { result = work(); });
    return result;
}

int64_t BoardService::lease_duration(uint32_t seconds) const
{
    if (seconds == 0)
        return config.lease_default_ms;
    return std::min<int64_t>(int64_t(seconds) * 1000, config.lease_max_ms);
}

void BoardService::expire_leases()
{
    lease_table.expire(now_ms());
}

Status BoardService::List(grpc::ServerContext* context, const korvik::rpc::ListRequest*, korvik::rpc::ListReply* reply)
{
    Client client;
    Status s = authorize(context, client);
    if (!s.ok())
        return s;
    // from the listing the board thread keeps, so that a busy board never
    // holds up a list
    host.list(*reply);
    const int64_t now = now_ms();
    for (auto& board : *reply->mutable_boards()) {
        LeaseHolder h;
        if (!lease_table.holder(board.id(), now, h))
            continue;
        auto* lease = board.mutable_lease();
        lease->set_user(h.client.user);
        lease->set_host(h.client.host);
        lease->set_program(h.client.program);
        lease->set_end_ms(h.end_ms);
    }
    return s;
}

Status BoardService::Acquire(grpc::ServerContext* context, const korvik::rpc::LeaseRequest* request,
                             korvik::rpc::LeaseReply* reply)
{
    Client client;
    Status s = authorize(context, client);
    if (!s.ok())
        return s;
    if (!host.has_board(request->board()))
        return Status(StatusCode::NOT_FOUND, "no board " + request->board());
    LeaseHolder h;
    if (lease_table.acquire(request->board(), client, now_ms(), lease_duration(request->seconds()), h) !=
        LeaseTable::Result::ok)
        return Status(StatusCode::FAILED_PRECONDITION, "board " + request->board() + " is leased by " +
                                                             holder_text(h));
    reply->set_lease_id(h.lease_id);
    reply->set_end_ms(h.end_ms);
    return Status::OK;
}

Status BoardService::Renew(grpc::ServerContext* context, const korvik::rpc::LeaseRequest* request,
                           korvik::rpc::LeaseReply* reply)
{
    Client client;
    Status s = authorize(context, client);
    if (!s.ok())
        return s;
    LeaseHolder h;
    switch (lease_table.renew(request->board(), request->lease_id(), now_ms(), lease_duration(request->seconds()),
                              h)) {
    case LeaseTable::Result::ok:
        reply->set_lease_id(h.lease_id);
        reply->set_end_ms(h.end_ms);
        return Status::OK;
    case LeaseTable::Result::revoked:
        return Status(StatusCode::PERMISSION_DENIED, "lease on " + request->board() + " revoked");
    case LeaseTable::Result::held:
        return Status(StatusCode::FAILED_PRECONDITION,
                      "board " + request->board() + " is leased by " + holder_text(h));
    default:
        return Status(StatusCode::FAILED_PRECONDITION, "lease on " + request->board() + " has ended");
    }
}

Status BoardService::Release(grpc::ServerContext* context, const korvik::rpc::LeaseRequest* request,
                             korvik::rpc::Empty*)
{
    Client client;
    Status s = authorize(context, client);
    if (!s.ok())
        return s;
    lease_table.release(request->board(), request->lease_id());
    return Status::OK;
}

Status BoardService::Revoke(grpc::ServerContext* context, const korvik::rpc::RevokeRequest* request,
                            korvik::rpc::Empty*)
{
    Client caller;
    Status s = authorize(context, caller);
    if (!s.ok())
        return s;
    const std::string given = metadata(context, "korvik-admin");
    if (config.admin_token.empty() || given.size() != config.admin_token.size() ||
        check_token({Token{"admin", config.admin_token, 0}}, "Bearer " + given, 0, caller.user) != TokenCheck::ok)
        return denied();
    Client holder = lease_table.revoke(request->board());
    if (holder.id.empty())
        return Status(StatusCode::NOT_FOUND, "nobody holds board " + request->board());
    // the holder's watch stream tells it at once: its handles of the board end
    korvik::rpc::Event e;
    e.set_board(request->board());
    e.set_revoked("revoked by the administrator");
    host.publish_to(holder.id, e);
    return Status::OK;
}

Status BoardService::may_apply(const korvik::rpc::OpBatch& request)
{
    bool writes = false;
    for (const auto& op : request.ops())
        writes = writes || op_writes(op.kind());
    if (writes) {
        switch (lease_table.check(request.board(), request.lease_id(), now_ms())) {
        case LeaseTable::Result::ok:
            break;
        case LeaseTable::Result::revoked:
            return Status(StatusCode::PERMISSION_DENIED, "lease on " + request.board() + " revoked");
        case LeaseTable::Result::held: {
            LeaseHolder h;
            lease_table.holder(request.board(), now_ms(), h);
            return Status(StatusCode::FAILED_PRECONDITION,
                          "board " + request.board() + " is leased by " + holder_text(h));
        }
        default:
            return Status(StatusCode::FAILED_PRECONDITION, "writing to board " + request.board() + " needs a lease");
        }
    }
    return Status::OK;
}

Status BoardService::apply(const Client& client, const korvik::rpc::OpBatch& request, korvik::rpc::OpReply& reply,
                           const grpc::ServerContext* context)
{
    (void)client;
    Status s = may_apply(request);
    if (!s.ok())
        return s;
    return run([this, &request, &reply, context] {
        // a caller that went away while its work queued behind others' gets
        // nothing done: with many clients coming and going, dead clients'
        // work would otherwise keep the living waiting without bound
        if (context && context->IsCancelled())
            return gone();
        return host.apply(request, reply);
    });
}

Status BoardService::Apply(grpc::ServerContext* context, const korvik::rpc::OpBatch* request,
                           korvik::rpc::OpReply* reply)
{
    Client client;
    Status s = authorize(context, client);
    if (!s.ok())
        return s;
    return apply(client, *request, *reply, context);
}

Status BoardService::ApplyAll(grpc::ServerContext* context, const korvik::rpc::OpBatches* request,
                              korvik::rpc::OpReplies* reply)
{
    Client client;
    Status s = authorize(context, client);
    if (!s.ok())
        return s;
    // each batch stands alone: a board that is gone fails only its own;
    // the board thread is asked once for all of them
    const int n = request->batches_size();
    std::vector<Status> done(static_cast<size_t>(n));
    for (int i = 0; i < n; ++i) {
        reply->add_replies();
        done[size_t(i)] = may_apply(request->batches(i));
    }
    run([this, request, reply, &done, context] {
        for (int i = 0; i < request->batches_size(); ++i)
            if (done[size_t(i)].ok())
                done[size_t(i)] =
                    context->IsCancelled() ? gone() : host.apply(request->batches(i), *reply->mutable_replies(i));
        return Status::OK;
    });
    for (const Status& d : done)
        reply->add_errors(d.ok() ? std::string() : d.error_message());
    return Status::OK;
}

Status BoardService::Watch(grpc::ServerContext* context, const korvik::rpc::WatchRequest*,
                           grpc::ServerWriter<korvik::rpc::Event>* writer)
{
    Client client;
    Status s = authorize(context, client);
    if (!s.ok())
        return s;
    auto subscriber = std::make_shared<Subscriber>(config.queue_capacity, client.id);
    host.subscribe(subscriber);
    korvik::rpc::Event event;
    while (!context->IsCancelled() && !subscriber->queue.is_closed()) {
        if (!subscriber->queue.pop(event, std::chrono::milliseconds(config.heartbeat_ms))) {
            event.Clear();
            event.set_heartbeat(true);
        }
        event.set_dropped(subscriber->queue.get_dropped());
        if (!writer->Write(event))
            break;
    }
    host.unsubscribe(subscriber);
    return Status::OK;
}

} // namespace korvikd
