<!DOCTYPE html>
<html lang="en">
<head>
<meta charset="utf-8">
<title>Velmora radio - stations</title>
<!--
  The station list Velmora radio shows below its player. Every station link opens in a new
  window (target="_blank"): the radio refuses that window and plays the link's address instead.
  Plain HTML and CSS only; nothing is loaded from elsewhere.
-->
<style>
  html, body { margin: 0; padding: 0; }
  body {
    background: #0c1a2e;
    color: #cfe0f5;
    font: 11px/1.35 "DejaVu Sans", Verdana, sans-serif;
    -webkit-user-select: none;
    user-select: none;
  }
  header {
    padding: 6px 8px 5px;
    background: linear-gradient(#1d3a5f, #12263f);
    border-bottom: 1px solid #3c6a9e;
    color: #ffd27a;
    font-weight: bold;
    letter-spacing: 0.5px;
  }
  header small { color: #8fb3da; font-weight: normal; letter-spacing: 0; }
  details { border-bottom: 1px solid #17304f; }
  summary {
    cursor: pointer;
    padding: 4px 8px;
    color: #e8f1ff;
    font-weight: bold;
    list-style: none;
  }
  summary::-webkit-details-marker { display: none; }
  summary::before {
    content: "\25B8";
    display: inline-block;
    width: 12px;
    color: #5fb0ff;
  }
  details[open] > summary::before { content: "\25BE"; }
  summary:hover { background: #15304f; }
  ul { list-style: none; margin: 0; padding: 0 0 4px 0; }
  li a {
    display: block;
    padding: 3px 8px 3px 22px;
    color: #cfe0f5;
    text-decoration: none;
    white-space: nowrap;
    overflow: hidden;
    text-overflow: ellipsis;
  }
  li a:hover, li a:focus { background: #28507f; color: #ffffff; outline: none; }
  li a span { color: #6f95c0; font-size: 10px; }
  ::-webkit-scrollbar { width: 8px; }
  ::-webkit-scrollbar-track { background: #0a1526; }
  ::-webkit-scrollbar-thumb { background: #2d5d93; border-radius: 4px; }
  ::-webkit-scrollbar-thumb:hover { background: #3f78b5; }
  footer { padding: 6px 8px 8px; color: #6f95c0; font-size: 10px; }
</style>
</head>
<body>
<header>Stations <small>&middot; click one to listen</small></header>

<details open>
  <summary>Ambient &amp; chill</summary>
  <ul>
    <li><a target="_blank" href="https://ice1.somafm.com/groovesalad-128-mp3">SomaFM Groove Salad <span>mp3 128k</span></a></li>
    <li><a target="_blank" href="https://ice1.somafm.com/dronezone-128-mp3">SomaFM Drone Zone <span>mp3 128k</span></a></li>
    <li><a target="_blank" href="https://ice1.somafm.com/deepspaceone-128-mp3">SomaFM Deep Space One <span>mp3 128k</span></a></li>
    <li><a target="_blank" href="https://stream.radioparadise.com/mellow-128">Radio Paradise Mellow Mix <span>aac 128k</span></a></li>
  </ul>
</details>

<details open>
  <summary>Eclectic &amp; rock</summary>
  <ul>
    <li><a target="_blank" href="https://stream.radioparadise.com/mp3-128">Radio Paradise Main Mix <span>mp3 128k</span></a></li>
    <li><a target="_blank" href="https://stream.radioparadise.com/rock-128">Radio Paradise Rock Mix <span>aac 128k</span></a></li>
    <li><a target="_blank" href="https://kexp-mp3-128.streamguys1.com/kexp128.mp3">KEXP 90.3 Seattle <span>mp3 128k</span></a></li>
    <li><a target="_blank" href="https://stream0.wfmu.org/freeform-128k">WFMU Freeform <span>mp3 128k</span></a></li>
    <li><a target="_blank" href="https://icecast.radiofrance.fr/fip-midfi.mp3">FIP Paris <span>mp3 128k</span></a></li>
  </ul>
</details>

<details>
  <summary>Jazz</summary>
  <ul>
    <li><a target="_blank" href="https://stream.srg-ssr.ch/m/rsj/mp3_128">Radio Swiss Jazz <span>mp3 128k</span></a></li>
    <li><a target="_blank" href="https://icecast.radiofrance.fr/fipjazz-midfi.mp3">FIP Jazz <span>mp3 128k</span></a></li>
    <li><a target="_blank" href="https://ice1.somafm.com/sonicuniverse-128-mp3">SomaFM Sonic Universe <span>mp3 128k</span></a></li>
  </ul>
</details>

<details>
  <summary>Classical</summary>
  <ul>
    <li><a target="_blank" href="https://stream.srg-ssr.ch/m/rsc_de/mp3_128">Radio Swiss Classic <span>mp3 128k</span></a></li>
    <li><a target="_blank" href="https://stream.wqxr.org/wqxr">WQXR New York <span>mp3</span></a></li>
    <li><a target="_blank" href="https://icecast.radiofrance.fr/francemusique-midfi.mp3">France Musique <span>mp3 128k</span></a></li>
  </ul>
</details>

<details>
  <summary>Electronic</summary>
  <ul>
    <li><a target="_blank" href="https://ice1.somafm.com/secretagent-128-mp3">SomaFM Secret Agent <span>mp3 128k</span></a></li>
    <li><a target="_blank" href="https://ice1.somafm.com/defcon-128-mp3">SomaFM DEF CON Radio <span>mp3 128k</span></a></li>
    <li><a target="_blank" href="https://icecast.radiofrance.fr/fipelectro-midfi.mp3">FIP Electro <span>mp3 128k</span></a></li>
  </ul>
</details>

<details>
  <summary>News &amp; talk</summary>
  <ul>
    <li><a target="_blank" href="http://stream.live.vc.bbcmedia.co.uk/bbc_world_service">BBC World Service <span>mp3</span></a></li>
    <li><a target="_blank" href="https://st01.sslstream.dlf.de/dlf/01/128/mp3/stream.mp3">Deutschlandfunk <span>mp3 128k</span></a></li>
    <li><a target="_blank" href="https://icecast.radiofrance.fr/franceinter-midfi.mp3">France Inter <span>mp3 128k</span></a></li>
  </ul>
</details>

<details>
  <summary>Playlists</summary>
  <ul>
    <li><a target="_blank" href="https://somafm.com/groovesalad130.pls">SomaFM Groove Salad <span>.pls</span></a></li>
    <li><a target="_blank" href="https://somafm.com/secretagent130.pls">SomaFM Secret Agent <span>.pls</span></a></li>
  </ul>
</details>

<footer>Streams belong to their stations. Velmora radio only plays them.</footer>
</body>
</html>
