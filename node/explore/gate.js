'use strict';
// Who may use the explorer: the holder of its key, given once in the printed
// address (?token=), then as a cookie, or by a script as a Bearer header.
// A request that changes something must also come from the explorer's own
// page (its Origin), so another site's page cannot send it with the cookie.
const crypto = require('crypto');

const COOKIE = 'qxsym_explore';
const MIN_TOKEN = 16;

function newToken() {
  return crypto.randomBytes(24).toString('base64url');
}

// Equal in constant time whatever the lengths (both sides are hashed first).
function sameToken(token, given) {
  if (typeof given !== 'string' || given === '') return false;
  const a = crypto.createHash('sha256').update(token).digest();
  const b = crypto.createHash('sha256').update(given).digest();
  return crypto.timingSafeEqual(a, b);
}

// The values of the key's cookie in a Cookie header (one per cookie so named).
function cookieTokens(header) {
  if (typeof header !== 'string') return [];
  return header
    .split(';')
    .map((c) => c.trim())
    .filter((c) => c.startsWith(`${COOKIE}=`))
    .map((c) => c.slice(COOKIE.length + 1));
}

function bearerToken(header) {
  const m = /^Bearer +(\S+) *$/i.exec(typeof header === 'string' ? header : '');
  return m ? m[1] : null;
}

const REFUSED_PAGE =
  '<!doctype html><meta charset="utf-8"><title>qxsymbols explore</title>' +
  '<p>This explorer needs its key: open the address the explorer printed, it carries the key.</p>\n';

// What the gate makes of a request: { pass: true } or how to answer it
// ({ status, redirect, cookie } or { status, page } or { status, message }).
// target: { pathname, params } of the request.
function admit(req, target, { token, tls }) {
  const { pathname, params } = target;
  const reading = req.method === 'GET' || req.method === 'HEAD';
  if (reading && pathname === '/favicon.ico') return { pass: true };
  const api = pathname.startsWith('/api/');
  if (reading && params.has('token')) {
    if (!sameToken(token, params.get('token'))) return refusal(api);
    params.delete('token');
    const rest = params.toString();
    const cookie =
      `${COOKIE}=${token}; Path=/; HttpOnly; SameSite=Strict` + (tls ? '; Secure' : '');
    return { status: 303, redirect: pathname + (rest ? `?${rest}` : ''), cookie };
  }
  const bearer = bearerToken(req.headers.authorization);
  const byBearer = bearer !== null && sameToken(token, bearer);
  const byCookie = cookieTokens(req.headers.cookie).some((t) => sameToken(token, t));
  if (!byBearer && !byCookie) return refusal(api);
  if (reading) return { pass: true };
  const origin = req.headers.origin;
  const own = `${tls ? 'https' : 'http'}://${req.headers.host || ''}`.toLowerCase();
  if (origin === undefined ? byBearer : origin.toLowerCase() === own) return { pass: true };
  return {
    status: 403,
    message: "a request that changes something must come from the explorer's own page",
  };
}

function refusal(api) {
  if (api) {
    return {
      status: 401,
      message: 'no or wrong key: open the address the explorer printed, it carries the key',
    };
  }
  return { status: 401, page: REFUSED_PAGE };
}

// Answers a request the gate did not let pass.
function answer(res, verdict, sendJson) {
  if (verdict.redirect) {
    res.writeHead(303, {
      Location: verdict.redirect,
      'Set-Cookie': verdict.cookie,
      'Cache-Control': 'no-store',
    });
    return res.end();
  }
  if (verdict.page) {
    res.writeHead(verdict.status, {
      'Content-Type': 'text/html; charset=utf-8',
      'Cache-Control': 'no-store',
    });
    return res.end(verdict.page);
  }
  return sendJson(res, verdict.status, { error: { message: verdict.message } });
}

module.exports = { admit, answer, newToken, sameToken, COOKIE, MIN_TOKEN };
