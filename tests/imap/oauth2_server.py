#!/usr/bin/python3
"""A loopback OAuth2 authorization server for the tests (RFC 6749 with PKCE, RFC 7636).

    oauth2_server.py --cert CERT --key KEY --client CLIENT [--port PORT]

GET /authorize sends the browser back to redirect_uri with a code (or error=access_denied when
login_hint is "refuse@example.org"); POST /token takes grant_type authorization_code (the PKCE
verifier checked against the challenge) and refresh_token (the refresh token rotated);
POST /introspect answers as RFC 7662 for Dovecot's oauth2 passdb. The port is printed on the
first line of standard output; the server runs until killed.
"""
import argparse
import base64
import hashlib
import http.server
import json
import secrets
import ssl
import sys
import urllib.parse

codes = {}      # code -> (client, redirect_uri, challenge, user)
refresh = {}    # refresh token -> user
access = {}     # access token -> user


class Handler(http.server.BaseHTTPRequestHandler):
    def log_message(self, *args):
        pass

    def reply(self, status, body, headers=None):
        data = json.dumps(body).encode() if not isinstance(body, bytes) else body
        self.send_response(status)
        for k, v in (headers or {}).items():
            self.send_header(k, v)
        self.send_header("Content-Type", "application/json")
        self.send_header("Content-Length", str(len(data)))
        self.end_headers()
        self.wfile.write(data)

    def do_GET(self):
        url = urllib.parse.urlparse(self.path)
        q = dict(urllib.parse.parse_qsl(url.query))
        if url.path != "/authorize":
            return self.reply(404, {"error": "not_found"})
        redirect = q.get("redirect_uri", "")
        if not redirect.startswith("http://127.0.0.1:"):
            return self.reply(400, {"error": "invalid_request"})
        params = {"state": q.get("state", "")}
        if q.get("client_id") != args.client or q.get("code_challenge_method") != "S256" \
                or q.get("response_type") != "code" or not q.get("code_challenge"):
            params["error"] = "invalid_request"
        elif q.get("login_hint") == "refuse@example.org":
            params["error"] = "access_denied"
        else:
            code = secrets.token_urlsafe(16)
            codes[code] = (q["client_id"], redirect, q["code_challenge"], q.get("login_hint", "someone"))
            params["code"] = code
        self.reply(302, b"", {"Location": redirect + "?" + urllib.parse.urlencode(params)})

    def do_POST(self):
        length = int(self.headers.get("Content-Length", "0"))
        form = dict(urllib.parse.parse_qsl(self.rfile.read(length).decode()))
        if self.path == "/introspect":
            user = access.get(form.get("token", ""))
            return self.reply(200, {"active": "true", "username": user} if user else {"active": "false"})
        if self.path != "/token":
            return self.reply(404, {"error": "not_found"})
        if self.headers.get("Content-Type", "").split(";")[0] != "application/x-www-form-urlencoded":
            return self.reply(400, {"error": "invalid_request"})
        grant = form.get("grant_type")
        if grant == "authorization_code":
            entry = codes.pop(form.get("code", ""), None)
            if not entry:
                return self.reply(400, {"error": "invalid_grant"})
            client, redirect, challenge, user = entry
            verifier = form.get("code_verifier", "")
            made = base64.urlsafe_b64encode(hashlib.sha256(verifier.encode()).digest()).decode().rstrip("=")
            if client != form.get("client_id") or redirect != form.get("redirect_uri") or made != challenge:
                return self.reply(400, {"error": "invalid_grant"})
        elif grant == "refresh_token":
            user = refresh.pop(form.get("refresh_token", ""), None)
            if not user or form.get("client_id") != args.client:
                return self.reply(400, {"error": "invalid_grant"})
        else:
            return self.reply(400, {"error": "unsupported_grant_type"})
        token, renewal = secrets.token_urlsafe(24), secrets.token_urlsafe(24)
        access[token] = user
        refresh[renewal] = user
        self.reply(200, {"access_token": token, "token_type": "Bearer", "expires_in": 3600,
                         "refresh_token": renewal})


parser = argparse.ArgumentParser()
parser.add_argument("--cert", required=True)
parser.add_argument("--key", required=True)
parser.add_argument("--client", required=True)
parser.add_argument("--port", type=int, default=0)
args = parser.parse_args()
server = http.server.ThreadingHTTPServer(("127.0.0.1", args.port), Handler)
context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
context.load_cert_chain(args.cert, args.key)
server.socket = context.wrap_socket(server.socket, server_side=True)
print(server.server_address[1], flush=True)
server.serve_forever()
